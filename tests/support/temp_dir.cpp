#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "chart_writer.h"
#include "test_support.h"

namespace testsupport {

#if defined(_WIN32)
// A fresh directory in the user's temporary directory, named after the
// process and a counter.
TempDir::TempDir() {
    wchar_t base[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::wstring name = std::wstring(base) + L"bsbchart-test-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(name.c_str(), nullptr)) {
            path_ = std::filesystem::path(name).u8string();
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("CreateDirectoryW failed");
}
#else
TempDir::TempDir() {
    char pattern[] = "/tmp/bsbchart-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}
#endif

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(path_), ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string path = PathOf(name);
    if (!chartwriter::WriteFileBytes(path, bytes)) throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace testsupport
