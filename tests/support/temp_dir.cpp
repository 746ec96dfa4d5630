#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "chart_writer.h"
#include "test_support.h"

namespace testsupport {

TempDir::TempDir() {
    char pattern[] = "/tmp/bsbchart-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string path = PathOf(name);
    if (!chartwriter::WriteFileBytes(path, bytes)) throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace testsupport
