// Replays the inputs that once broke a fuzz target (fuzz/regressions/<target>/)
// through the same entry code as the target; each entry aborts on a broken
// promise, and the sanitizer builds of this suite catch what memory checks
// find.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "fuzz_entries.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::vector<uint8_t>> Inputs(const std::string& target) {
    std::vector<fs::path> files;
    fs::path directory = fs::path(BSBCHART_FUZZ_REGRESSIONS) / target;
    if (fs::is_directory(directory))
        for (const auto& entry : fs::directory_iterator(directory))
            if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<uint8_t>> inputs;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return inputs;
}

TEST(FuzzRegressions, RowDecoder) {
    for (const auto& input : Inputs("row_decoder")) fuzzentry::DecodeRowInput(input.data(), input.size());
}

TEST(FuzzRegressions, HeaderReaders) {
    for (const auto& input : Inputs("header_readers"))
        fuzzentry::ReadHeaderInput(input.data(), input.size());
}

TEST(FuzzRegressions, WholeFile) {
    testsupport::TempDir dir;
    auto inputs = Inputs("whole_file");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        fuzzentry::WholeFileInput split = fuzzentry::SplitWholeFileInput(input.data(), input.size());
        std::string path =
            dir.Write("chart.kap", std::vector<uint8_t>(split.chart, split.chart + split.chartSize));
        fuzzentry::RunWholeFileOperations(split, testsupport::Utf16Path(path).data());
    }
}

}  // namespace
