// Helpers shared by the tests: UTF-16 paths, captured messages, scratch
// directories, host heaps and little-endian readers for bitmap bytes.
#ifndef BSBCHART_TEST_SUPPORT_H
#define BSBCHART_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// NUL-terminated UTF-16; characters beyond the BMP become surrogate pairs and
// malformed UTF-8 becomes U+FFFD.
std::vector<unsigned short> Utf16Path(const std::string& utf8);

// From NUL-terminated UTF-16; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const unsigned short* text);

// Collects every library message while alive; restores the default reporter
// when destroyed. Only one should be alive at a time.
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // Read directly only once no library call is running; Snapshot() otherwise.
    std::vector<std::string> messages;

    std::vector<std::string> Snapshot() const;
    bool Contains(const std::string& part) const;
    void Clear();

private:
    static void Receive(const unsigned short* text, void* context);
    mutable std::mutex mutex_;
};

// A fresh temporary directory (under /tmp on POSIX), removed with everything
// in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string PathOf(const std::string& name) const { return path_ + "/" + name; }
    // Writes the file and returns its path; throws if it cannot be written.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string path_;
};

// A library heap for the lifetime of the object; maximumSize 0 = no limit.
class HostHeap {
public:
    explicit HostHeap(std::size_t maximumSize = 0);
    ~HostHeap();
    HostHeap(const HostHeap&) = delete;
    HostHeap& operator=(const HostHeap&) = delete;

    void* get() const { return heap_; }
    std::size_t blocks() const;

private:
    void* heap_;
};

inline uint16_t Le16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
           (uint32_t{b[3]} << 24);
}

inline int32_t LeI32(const char* p) { return static_cast<int32_t>(Le32(p)); }

}  // namespace testsupport

#endif
