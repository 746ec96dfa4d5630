// The platform layer: host heaps, the message reporter, UTF-16 paths,
// exclusive opening and the cached reads of chart files.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bsbchart_host.h"
#include "internal_support.h"
#include "platform/platform.h"
#include "report/reporter.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::Utf16Path;
using Bytes = std::vector<uint8_t>;
using Units = std::vector<unsigned short>;

// ---------------------------------------------------------------- heaps

bool AllZero(const void* block, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

TEST(HostHeap, BlocksAreZeroFilledAndCounted) {
    void* heap = CreateChartHeap(0);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    // Dirty some memory and give it back, so that reuse would show.
    for (int round = 0; round < 2; ++round) {
        std::vector<void*> blocks;
        for (size_t size : {1u, 7u, 64u, 4096u, 1u << 20}) {
            void* block = bsb::AllocateBlock(heap, size);
            ASSERT_NE(block, nullptr);
            EXPECT_TRUE(AllZero(block, size)) << size;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(double), 0u);
            std::memset(block, 0xCD, size);
            blocks.push_back(block);
        }
        EXPECT_EQ(CountChartBlocks(heap), blocks.size());
        for (void* block : blocks) FreeChartBlock(heap, block);
        EXPECT_EQ(CountChartBlocks(heap), 0u);
    }
    FreeChartBlock(heap, nullptr);  // ignored
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    DestroyChartHeap(heap);
}

TEST(HostHeap, MaximumSizeRefusesWhatWouldExceedIt) {
    void* heap = CreateChartHeap(100);
    ASSERT_NE(heap, nullptr);
    void* a = bsb::AllocateBlock(heap, 60);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, 41), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 1u);
    void* b = bsb::AllocateBlock(heap, 40);  // exactly up to the maximum
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, 1), nullptr);
    FreeChartBlock(heap, a);
    EXPECT_EQ(bsb::AllocateBlock(heap, 61), nullptr);
    void* c = bsb::AllocateBlock(heap, 60);  // freed bytes count again
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 2u);
    EXPECT_EQ(bsb::AllocateBlock(heap, UINT64_MAX), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 2u);
    DestroyChartHeap(heap);  // frees b and c
}

TEST(HostHeap, RefusesSizesBeyondTheAddressSpace) {
    void* heap = CreateChartHeap(0);
    EXPECT_EQ(bsb::AllocateBlock(heap, UINT64_MAX), nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, UINT64_MAX - 8), nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, uint64_t{1} << 62), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    DestroyChartHeap(heap);
}

TEST(HostHeap, DestroyFreesEveryBlockLeft) {
    // Run under a leak checker this shows the blocks going with the heap.
    void* heap = CreateChartHeap(0);
    for (int i = 0; i < 100; ++i) ASSERT_NE(bsb::AllocateBlock(heap, 1000 + i), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 100u);
    DestroyChartHeap(heap);

    void* privateHeap = bsb::CreatePrivateHeap(1000);
    ASSERT_NE(privateHeap, nullptr);
    void* block = bsb::AllocateBlock(privateHeap, 100000);  // no maximum
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 100000));
    bsb::DestroyPrivateHeap(privateHeap);
}

#if !defined(_WIN32)
TEST(HostHeap, BlocksOfAnotherHeapAreNotFreed) {
    void* first = CreateChartHeap(0);
    void* second = CreateChartHeap(0);
    void* block = bsb::AllocateBlock(first, 16);
    FreeChartBlock(second, block);
    EXPECT_EQ(CountChartBlocks(first), 1u);
    FreeChartBlock(first, block);
    EXPECT_EQ(CountChartBlocks(first), 0u);
    DestroyChartHeap(first);
    DestroyChartHeap(second);
}

#else
// A heap the host made itself: blocks come zero-filled and counted, HeapFree
// takes them back, and a fixed-size heap refuses through the system's limit.
TEST(HostHeap, SystemHeapsServeAsHostHeaps) {
    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    void* block = bsb::AllocateBlock(heap, 5000);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 5000));
    EXPECT_EQ(HeapSize(heap, 0, block), 5000u);
    EXPECT_EQ(CountChartBlocks(heap), 1u);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    HeapDestroy(heap);

    HANDLE fixed = HeapCreate(HEAP_NO_SERIALIZE, 0, 64 * 1024);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(bsb::AllocateBlock(fixed, 100 * 1024), nullptr);
    EXPECT_NE(bsb::AllocateBlock(fixed, 1000), nullptr);
    EXPECT_EQ(CountChartBlocks(fixed), 1u);
    HeapDestroy(fixed);
}

// A heap of CreateChartHeap is a system heap: the host may allocate and free
// on it with the system's calls, and its own blocks count towards the
// maximum.
TEST(HostHeap, ChartHeapsAreSystemHeaps) {
    void* heap = CreateChartHeap(100);
    ASSERT_NE(heap, nullptr);
    void* own = HeapAlloc(heap, 0, 60);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 1u);
    EXPECT_EQ(bsb::AllocateBlock(heap, 41), nullptr);
    void* block = bsb::AllocateBlock(heap, 40);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_TRUE(HeapFree(heap, 0, own));
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    DestroyChartHeap(heap);
}

#endif

// ---------------------------------------------------------------- messages

struct UnitSink {
    std::vector<Units> messages;
    static void Receive(const unsigned short* text, void* context) {
        Units units;
        for (; *text; ++text) units.push_back(*text);
        static_cast<UnitSink*>(context)->messages.push_back(units);
    }
};

// Installs a sink that keeps the raw UTF-16 units, for its lifetime.
struct ScopedUnitSink {
    ScopedUnitSink() { SetMessageSink(&UnitSink::Receive, &sink); }
    ~ScopedUnitSink() { SetMessageSink(nullptr, nullptr); }
    UnitSink sink;
};

// Shows a message the way the library's calls do.
void Show(bsb::Message message) {
    bsb::Reporter reporter = bsb::ShowingReporter();
    bsb::Fail(&reporter, message);
}

void ShowCannotOpen(const unsigned short* path) {
    bsb::Reporter reporter = bsb::ShowingReporter();
    bsb::FailCannotOpen(&reporter, path, bsb::kStatusNotFound, 0);
}

Units UnitsOf(const std::string& ascii) { return Units(ascii.begin(), ascii.end()); }

Units Concat(std::initializer_list<Units> parts) {
    Units all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(MessageReporter, SinkReceivesTheUtf16Text) {
    ScopedUnitSink scoped;
    Show(bsb::kErrorReadingHeader);
    Units path = Utf16Path("/charts/\xC3\xA9\xF0\x9F\x98\x80.kap");  // é, U+1F600
    path.pop_back();
    path.push_back(0xD800);  // a lone surrogate goes to the sink as it is
    path.push_back(0);
    ShowCannotOpen(path.data());
    ASSERT_EQ(scoped.sink.messages.size(), 2u);
    EXPECT_EQ(scoped.sink.messages[0], UnitsOf("Error reading header."));
    EXPECT_EQ(scoped.sink.messages[1],
              Concat({UnitsOf("Cannot open file: /charts/"), Units{0xE9, 0xD83D, 0xDE00},
                      UnitsOf(".kap"), Units{0xD800}, UnitsOf(".")}));
}

#if !defined(_WIN32)
// What the process writes to its standard error while `action` runs.
template <typename Action>
std::string CaptureStderr(Action action) {
    TempDir dir;
    std::string path = dir.PathOf("stderr");
    int file = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int saved = dup(2);
    dup2(file, 2);
    close(file);
    action();
    dup2(saved, 2);
    close(saved);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(MessageReporter, DefaultWritesOneUtf8LineToStandardError) {
    SetMessageSink(nullptr, nullptr);
    std::string written = CaptureStderr([] { Show(bsb::kErrorReadingHeader); });
    EXPECT_EQ(written, "Error reading header.\n");

    std::string name = "/charts/\xC3\xA9\xF0\x9F\x98\x80.kap";
    written = CaptureStderr([&] { ShowCannotOpen(Utf16Path(name).data()); });
    EXPECT_EQ(written, "Cannot open file: " + name + ".\n");

    // An unpaired surrogate is shown as U+FFFD.
    Units lone = Utf16Path("/a");
    lone.insert(lone.end() - 1, 0xDC00);
    written = CaptureStderr([&] { ShowCannotOpen(lone.data()); });
    EXPECT_EQ(written, "Cannot open file: /a\xEF\xBF\xBD.\n");

    // The longest message fits its line.
    Units wide(1000, 0x65E5);        // 日, three UTF-8 bytes each
    wide.push_back(0);
    written = CaptureStderr([&] { ShowCannotOpen(wide.data()); });
    std::string expected = "Cannot open file: ";
    for (int i = 0; i < 480; ++i) expected += "\xE6\x97\xA5";
    EXPECT_EQ(written, expected + ".\n");
}

TEST(MessageReporter, NullSinkRestoresTheDefault) {
    UnitSink sink;
    SetMessageSink(&UnitSink::Receive, &sink);
    SetMessageSink(nullptr, nullptr);
    std::string written = CaptureStderr([] { Show(bsb::kErrorReadingCph); });
    EXPECT_EQ(written, "Error reading CPH record.\n");
    EXPECT_TRUE(sink.messages.empty());

    testsupport::MessageLog log;
    written = CaptureStderr([] { Show(bsb::kErrorReadingCph); });
    EXPECT_EQ(written, "");
    EXPECT_EQ(log.messages, std::vector<std::string>{"Error reading CPH record."});
}

#endif

// ---------------------------------------------------------------- "Cannot open file: %s."

Units Path(size_t letters, Units tail = {}) {
    Units path(letters, 'a');
    path.insert(path.end(), tail.begin(), tail.end());
    path.push_back(0);
    return path;
}

TEST(CannotOpenMessage, FitsFiveHundredUnitsWithItsTerminator) {
    const Units prefix = UnitsOf("Cannot open file: ");  // 18 units; 480 are left for the path
    struct Case {
        const char* name;
        Units path;
        Units shownPath;
    };
    const Case cases[] = {
        {"short", Path(3), Units(3, 'a')},
        {"empty", Path(0), Units{}},
        {"fills exactly", Path(480), Units(480, 'a')},
        {"one over", Path(481), Units(480, 'a')},
        {"very long", Path(5000), Units(480, 'a')},
        // A pair that would be split by the cut is left out whole.
        {"pair across the cut", Path(479, {0xD83D, 0xDE00, 'b'}), Units(479, 'a')},
        {"pair just inside", Path(478, {0xD83D, 0xDE00, 'b'}),
         Concat({Units(478, 'a'), Units{0xD83D, 0xDE00}})},
        {"pair ending the path", Path(478, {0xD83D, 0xDE00}),
         Concat({Units(478, 'a'), Units{0xD83D, 0xDE00}})},
    };
    for (const auto& c : cases) {
        Units out(700, 0xAAAA);
        uint32_t length = bsb::ComposeCannotOpen(c.path.data(), out.data());
        Units expected = Concat({prefix, c.shownPath, UnitsOf(".")});
        ASSERT_LE(expected.size(), 499u) << c.name;
        EXPECT_EQ(length, expected.size()) << c.name;
        EXPECT_EQ(Units(out.begin(), out.begin() + expected.size()), expected) << c.name;
        EXPECT_EQ(out[expected.size()], 0) << c.name;
        EXPECT_EQ(Units(out.begin() + bsb::kMessageCapacity, out.end()),
                  Units(700 - bsb::kMessageCapacity, 0xAAAA))
            << c.name;

        ScopedUnitSink scoped;
        ShowCannotOpen(c.path.data());
        ASSERT_EQ(scoped.sink.messages.size(), 1u) << c.name;
        EXPECT_EQ(scoped.sink.messages[0], expected) << c.name;
    }
}

// ---------------------------------------------------------------- opening files

struct OpenedFile {
    explicit OpenedFile(const unsigned short* path) : file(new bsb::ChartFile) {
        open = testsupport::OpenQuietly(file.get(), path);
    }
    explicit OpenedFile(const std::string& path) : OpenedFile(Utf16Path(path).data()) {}
    ~OpenedFile() { Close(); }
    void Close() {
        if (open) bsb::CloseChartFile(file.get());
        open = false;
    }
    std::unique_ptr<bsb::ChartFile> file;
    bool open = false;
};

Bytes ReadAll(bsb::ChartFile* file, size_t size) {
    Bytes bytes(size + 16);
    uint32_t delivered = 0;
    if (!bsb::SeekChartFile(file, 0, bsb::kFromStart) ||
        !bsb::ReadChartFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &delivered))
        return {};
    bytes.resize(delivered);
    return bytes;
}

TEST(ChartFileOpen, TakesUtf16PathsWithNonAsciiCharactersAndSurrogatePairs) {
    TempDir dir;
    const std::string names[] = {
        "plain.kap",
        "\xC3\xA9t\xC3\xA9.kap",                // été
        "\xE6\x97\xA5\xE6\x9C\xAC.kap",         // 日本
        "\xF0\x9F\x98\x80\xF0\x9D\x84\x9E.kap", // U+1F600 U+1D11E: surrogate pairs
        "dir \xC3\xB1/ch\xC3\xA0rt.kap",        // ñ, à in a subdirectory
    };
    std::filesystem::create_directory(std::filesystem::u8path(dir.PathOf("dir \xC3\xB1")));
    for (size_t i = 0; i < std::size(names); ++i) {
        Bytes content(100 + i, static_cast<uint8_t>('A' + i));
        std::string path = dir.Write(names[i], content);
        OpenedFile file(path);
        ASSERT_TRUE(file.open) << names[i];
        EXPECT_EQ(file.file->port.size, static_cast<int64_t>(content.size()));
        EXPECT_EQ(ReadAll(file.file.get(), content.size()), content) << names[i];
    }
}

TEST(ChartFileOpen, FailsOnAPathThatIsNotValidUtf16) {
    TempDir dir;
    // A file whose name is the replacement character: a lossy conversion of
    // the bad paths below would open it.
    dir.Write("\xEF\xBF\xBD.kap", Bytes(10, 1));
    dir.Write("\xEF\xBF\xBDx.kap", Bytes(10, 1));
    const Units bad[] = {{0xD800}, {0xDC00}, {0xDBFF, 'x'}, {0xDE00, 0xD83D}};
    for (const Units& middle : bad) {
        Units path = Utf16Path(dir.path() + "/");
        path.pop_back();
        path.insert(path.end(), middle.begin(), middle.end());
        for (char c : std::string(".kap")) path.push_back(c);
        path.push_back(0);
        OpenedFile file(path.data());
        EXPECT_FALSE(file.open) << std::hex << middle[0];
    }
    OpenedFile good(dir.PathOf("\xEF\xBF\xBD.kap"));
    EXPECT_TRUE(good.open);
}

TEST(ChartFileOpen, FailsOnMissingFilesAndDirectories) {
    TempDir dir;
    EXPECT_FALSE(OpenedFile(dir.PathOf("missing.kap")).open);
    EXPECT_FALSE(OpenedFile(dir.path()).open);
    EXPECT_FALSE(OpenedFile(std::string()).open);
    EXPECT_FALSE(OpenedFile(std::string(5000, 'a')).open);  // too long for the system
}

TEST(ChartFileOpen, IsExclusiveWithinTheProcess) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", Bytes(10, 7));
    {
        OpenedFile first(path);
        ASSERT_TRUE(first.open);
        OpenedFile second(path);
        EXPECT_FALSE(second.open);
        first.Close();
        OpenedFile third(path);
        EXPECT_TRUE(third.open);
    }
    OpenedFile again(path);
    EXPECT_TRUE(again.open);
}

#if !defined(_WIN32)
TEST(ChartFileOpen, IsExclusiveAcrossProcesses) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", Bytes(10, 7));
    Units wide = Utf16Path(path);
    int opened[2];
    int release[2];
    ASSERT_EQ(pipe(opened), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child holds the chart open until the parent is done.
        auto file = std::make_unique<bsb::ChartFile>();
        char result = testsupport::OpenQuietly(file.get(), wide.data()) ? '1' : '0';
        if (write(opened[1], &result, 1) != 1) _exit(2);
        char ignored;
        if (read(release[0], &ignored, 1) != 1) _exit(3);
        if (result == '1') bsb::CloseChartFile(file.get());
        _exit(0);
    }
    char result = 0;
    ASSERT_EQ(read(opened[0], &result, 1), 1);
    EXPECT_EQ(result, '1');
    EXPECT_FALSE(OpenedFile(path).open);
    char go = 'x';
    ASSERT_EQ(write(release[1], &go, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {opened[0], opened[1], release[0], release[1]}) close(fd);
    EXPECT_TRUE(OpenedFile(path).open);
}

#else
// cmd.exe's type in a child process: 0 when it read the chart, 1 when it
// could not open it.
DWORD TypeInAnotherProcess(const std::string& path) {
    std::wstring command = L"cmd.exe /c type \"" +
                           std::filesystem::u8path(path).make_preferred().wstring() +
                           L"\" >NUL 2>NUL";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &child))
        return ~DWORD{0};
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = ~DWORD{0};
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return code;
}

TEST(ChartFileOpen, IsExclusiveAcrossProcesses) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", Bytes(10, 7));
    EXPECT_EQ(TypeInAnotherProcess(path), 0u);
    {
        OpenedFile held(path);
        ASSERT_TRUE(held.open);
        EXPECT_EQ(TypeInAnotherProcess(path), 1u);
    }
    EXPECT_EQ(TypeInAnotherProcess(path), 0u);
}
#endif

// ---------------------------------------------------------------- cached reads

// Reads `count` bytes at `offset` and checks them against the file's content,
// and that nothing beyond what was delivered is written.
void ExpectRead(bsb::ChartFile* file, const Bytes& content, int64_t offset, uint32_t count) {
    Bytes buffer(count + 8, 0x5A);
    ASSERT_TRUE(bsb::SeekChartFile(file, static_cast<int32_t>(offset), bsb::kFromStart));
    uint32_t delivered = 0xFFFFFFFF;
    ASSERT_TRUE(bsb::ReadChartFile(file, buffer.data(), count, &delivered));
    int64_t available = std::max<int64_t>(0, static_cast<int64_t>(content.size()) - offset);
    uint32_t expected = static_cast<uint32_t>(std::min<int64_t>(count, available));
    ASSERT_EQ(delivered, expected) << "offset " << offset << " count " << count;
    if (delivered > 0)
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + delivered, content.begin() + offset))
            << "offset " << offset << " count " << count;
    ASSERT_TRUE(std::all_of(buffer.begin() + delivered, buffer.end(), [](uint8_t b) { return b == 0x5A; }))
        << "offset " << offset << " count " << count;
}

Bytes RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(ChartFileReads, DeliverExactlyTheFileBytes) {
    const uint32_t window = bsb::kCacheBlockSize;
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{window}, size_t{window + 1},
                        size_t{7 * window + 1234}}) {
        Bytes content = RandomBytes(size, static_cast<unsigned>(size));
        OpenedFile opened(dir.Write("data.bin", content));
        ASSERT_TRUE(opened.open);
        bsb::ChartFile* file = opened.file.get();
        const int64_t n = static_cast<int64_t>(size);
        const std::pair<int64_t, uint32_t> reads[] = {
            {0, 1}, {0, 4}, {0, window}, {window - 1, 2}, {window - 3, 10}, {window, window},
            {n - 4, 4}, {n - 1, 10}, {n, 5}, {n + 100, 5}, {1, window - 1}, {2 * window - 2, 4},
            {100, 3 * window + 5}, {0, static_cast<uint32_t>(n) + 1000}, {n / 2, window * 4},
            {n - window, window}, {n - window - 1, 3}, {0, 0},
        };
        for (const auto& [offset, count] : reads)
            if (offset >= 0) ExpectRead(file, content, offset, count);

        std::mt19937 random(42);
        for (int i = 0; i < 3000; ++i) {
            int64_t offset = static_cast<int64_t>(random() % (size + 64));
            uint32_t count;
            switch (random() % 4) {
            case 0: count = 1 + random() % 8; break;
            case 1: count = 1 + random() % 300; break;
            case 2: count = window - 8 + random() % 16; break;
            default: count = static_cast<uint32_t>(random() % (3 * window)); break;
            }
            ExpectRead(file, content, offset, count);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(ChartFileReads, ContinueFromWhereTheLastReadEnded) {
    const uint32_t window = bsb::kCacheBlockSize;
    TempDir dir;
    Bytes content = RandomBytes(5 * window + 17, 7);
    OpenedFile opened(dir.Write("data.bin", content));
    bsb::ChartFile* file = opened.file.get();
    ASSERT_TRUE(bsb::SeekChartFile(file, 0, bsb::kFromStart));
    Bytes all;
    std::mt19937 random(5);
    while (all.size() < content.size() + 10) {
        uint32_t count = 1 + random() % (window + 500);
        Bytes part(count);
        uint32_t delivered = 0;
        ASSERT_TRUE(bsb::ReadChartFile(file, part.data(), count, &delivered));
        part.resize(delivered);
        all.insert(all.end(), part.begin(), part.end());
        if (delivered < count) break;
    }
    EXPECT_EQ(all, content);
}

TEST(ChartFileReads, PositionFromTheEndAndRefuseBeforeTheStart) {
    TempDir dir;
    Bytes content = RandomBytes(10000, 9);
    OpenedFile opened(dir.Write("data.bin", content));
    bsb::ChartFile* file = opened.file.get();
    uint8_t word[4];
    uint32_t delivered = 0;
    ASSERT_TRUE(bsb::SeekChartFile(file, -4, bsb::kFromEnd));
    ASSERT_TRUE(bsb::ReadChartFile(file, word, 4, &delivered));
    EXPECT_EQ(delivered, 4u);
    EXPECT_TRUE(std::equal(word, word + 4, content.end() - 4));
    ASSERT_TRUE(bsb::SeekChartFile(file, -10000, bsb::kFromEnd));
    ASSERT_TRUE(bsb::ReadChartFile(file, word, 4, &delivered));
    EXPECT_TRUE(std::equal(word, word + 4, content.begin()));
    EXPECT_FALSE(bsb::SeekChartFile(file, -10001, bsb::kFromEnd));
    EXPECT_FALSE(bsb::SeekChartFile(file, -1, bsb::kFromStart));
    EXPECT_FALSE(bsb::SeekChartFile(file, INT32_MIN, bsb::kFromStart));
    ASSERT_TRUE(bsb::SeekChartFile(file, INT32_MAX, bsb::kFromStart));
    ASSERT_TRUE(bsb::ReadChartFile(file, word, 4, &delivered));
    EXPECT_EQ(delivered, 0u);
}

}  // namespace
