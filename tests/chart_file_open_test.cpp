// Opening chart files: UTF-16 paths, paths that are not valid UTF-16,
// missing files and directories, and exclusive opening within the process
// and across processes.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "internal_support.h"
#include "test_support.h"

namespace {

using testsupport::OpenedChart;
using testsupport::TempDir;
using testsupport::Utf16Path;
using Bytes = std::vector<uint8_t>;
using Units = std::vector<unsigned short>;

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
        OpenedChart file(path);
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
        OpenedChart file(path.data());
        EXPECT_FALSE(file.open) << std::hex << middle[0];
    }
    OpenedChart good(dir.PathOf("\xEF\xBF\xBD.kap"));
    EXPECT_TRUE(good.open);
}

TEST(ChartFileOpen, FailsOnMissingFilesAndDirectories) {
    TempDir dir;
    EXPECT_FALSE(OpenedChart(dir.PathOf("missing.kap")).open);
    EXPECT_FALSE(OpenedChart(dir.path()).open);
    EXPECT_FALSE(OpenedChart(std::string()).open);
    EXPECT_FALSE(OpenedChart(std::string(5000, 'a')).open);  // too long for the system
}

TEST(ChartFileOpen, IsExclusiveWithinTheProcess) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", Bytes(10, 7));
    {
        OpenedChart first(path);
        ASSERT_TRUE(first.open);
        OpenedChart second(path);
        EXPECT_FALSE(second.open);
        first.Close();
        OpenedChart third(path);
        EXPECT_TRUE(third.open);
    }
    OpenedChart again(path);
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
    EXPECT_FALSE(OpenedChart(path).open);
    char go = 'x';
    ASSERT_EQ(write(release[1], &go, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {opened[0], opened[1], release[0], release[1]}) close(fd);
    EXPECT_TRUE(OpenedChart(path).open);
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
        OpenedChart held(path);
        ASSERT_TRUE(held.open);
        EXPECT_EQ(TypeInAnotherProcess(path), 1u);
    }
    EXPECT_EQ(TypeInAnotherProcess(path), 0u);
}
#endif

}  // namespace
