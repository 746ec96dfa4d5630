// Fault sweeps over small valid charts: every truncation, single-byte
// corruptions of the trailer, index table and header records, and heaps too
// small at every point of a window. Whatever the file holds, a call returns
// 0 or NULL with exactly one of the library's messages (none only for an
// over-long skew field), leaves the host heap empty and closes the chart.
#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <cstdio>
#include <gtest/gtest.h>

#include "library_messages.h"
#include "robustness_support.h"

namespace {

using robustness::kOperations;
using robustness::NameOf;
using robustness::Operation;
using robustness::Outcome;
using robustness::RunOperation;
using testsupport::MessageLog;
using testsupport::TempDir;

// The peak resident memory of the sweep process, for the record.
class PeakMemoryReport : public ::testing::Environment {
public:
    void TearDown() override {
#if defined(_WIN32)
        PROCESS_MEMORY_COUNTERS counters;
        if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
            printf("peak resident memory: %zu KiB\n", counters.PeakWorkingSetSize / 1024);
#else
        struct rusage usage;
        if (getrusage(RUSAGE_SELF, &usage) == 0)
            printf("peak resident memory: %ld KiB\n", usage.ru_maxrss);
#endif
    }
};
const auto* const kPeakMemoryReport = ::testing::AddGlobalTestEnvironment(new PeakMemoryReport);

// The first "SK=" field of the text before the first NUL runs over 19
// characters: the one failure that shows no message.
bool HasOverlongSkewField(const std::vector<uint8_t>& bytes) {
    std::string text(bytes.begin(), bytes.end());
    text = text.substr(0, text.find('\0'));
    size_t key = text.find("SK=");
    if (key == std::string::npos) return false;
    size_t end = text.find_first_of(",\r", key + 3);
    if (end == std::string::npos) end = text.size();
    return end - (key + 3) > 19;
}

// Checks one call on a damaged chart; `context` names the damage.
void ExpectCleanOutcome(const Outcome& outcome, const MessageLog& log, bool silentAllowed,
                        const std::string& context) {
    SCOPED_TRACE(context);
    EXPECT_EQ(outcome.blocksLeft, 0u);
    EXPECT_TRUE(outcome.fileClosed);
    if (outcome.ok) {
        EXPECT_TRUE(log.messages.empty()) << log.messages[0];
        return;
    }
    if (log.messages.empty()) {
        EXPECT_TRUE(silentAllowed) << "failed without a message";
        return;
    }
    ASSERT_EQ(log.messages.size(), 1u) << log.messages[0] << " / " << log.messages[1];
    EXPECT_TRUE(testsupport::IsLibraryMessage(log.messages[0])) << log.messages[0];
}

class FaultSweep : public ::testing::TestWithParam<bool> {
protected:
    bool skewed() const { return GetParam(); }
    std::vector<uint8_t> chart = robustness::SmallChart(GetParam());
    TempDir dir;
    std::string path = dir.PathOf("chart.kap");
};

TEST_P(FaultSweep, EveryTruncationFailsCleanly) {
    ASSERT_FALSE(chart.empty());
    std::vector<Outcome> reference;
    dir.Write("chart.kap", chart);
    for (Operation operation : kOperations) {
        reference.push_back(RunOperation(operation, path));
        ASSERT_TRUE(reference.back().ok) << NameOf(operation);
    }
    for (size_t length = 0; length <= chart.size(); ++length) {
        dir.Write("chart.kap", std::vector<uint8_t>(chart.begin(), chart.begin() + length));
        for (Operation operation : kOperations) {
            MessageLog log;
            Outcome outcome = RunOperation(operation, path);
            std::string context = std::string(NameOf(operation)) + " on " +
                                  std::to_string(length) + " of " + std::to_string(chart.size()) +
                                  " bytes";
            if (length == chart.size()) {
                EXPECT_TRUE(outcome == reference[operation]) << context;
            } else {
                EXPECT_FALSE(outcome.ok) << context;
            }
            ExpectCleanOutcome(outcome, log, false, context);
        }
    }
}

TEST_P(FaultSweep, SingleByteCorruptionsFailCleanly) {
    uint32_t table = chartwriter::GetBe32(chart, chart.size() - 4);
    uint32_t headerLength = chartwriter::GetBe32(chart, table);
    size_t textLength = std::string(chart.begin(), chart.end()).find('\0');
    ASSERT_LT(textLength, headerLength);
    struct Span {
        const char* name;
        size_t first, last;
    } spans[] = {{"trailer", chart.size() - 4, chart.size() - 1},
                 {"index table", table, chart.size() - 5},
                 {"header records", 0, textLength - 1}};
    int failures = 0;
    for (const Span& span : spans) {
        for (size_t at = span.first; at <= span.last; ++at) {
            const uint8_t original = chart[at];
            for (uint8_t value : {uint8_t(original ^ 0x01), uint8_t(original ^ 0x80), uint8_t(0x00),
                                  uint8_t(0xFF), uint8_t('\r'), uint8_t(',')}) {
                if (value == original) continue;
                std::vector<uint8_t> damaged = chart;
                damaged[at] = value;
                dir.Write("chart.kap", damaged);
                for (Operation operation : kOperations) {
                    MessageLog log;
                    Outcome outcome = RunOperation(operation, path);
                    failures += outcome.ok ? 0 : 1;
                    char context[160];
                    snprintf(context, sizeof(context), "%s: %s byte %zu set to 0x%02X", NameOf(operation),
                             span.name, at, value);
                    ExpectCleanOutcome(outcome, log, HasOverlongSkewField(damaged), context);
                }
            }
        }
    }
    EXPECT_GT(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(UprightAndSkewed, FaultSweep, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Skewed" : "Upright";
                         });

// Every maximum heap size up to the first that succeeds: NULL with one
// allocation message and an empty heap, then the unlimited call's bitmap.
struct HeapCase {
    const char* name;
    bool skewed;
    Operation operation;
};

void PrintTo(const HeapCase& c, std::ostream* out) { *out << c.name; }

class HeapExhaustion : public ::testing::TestWithParam<HeapCase> {};

const std::vector<std::string> kAllocationMessages = {
    "Cannot allocate memory to save header section.",
    "Cannot allocate memory to save your required bmp.",
    "Cannot allocate memory for one line image",
};

TEST_P(HeapExhaustion, EveryMaximumSizeFailsCleanlyOrMatches) {
    const HeapCase& c = GetParam();
    TempDir dir;
    std::vector<uint8_t> chart = robustness::SmallChart(c.skewed);
    std::string path = dir.Write("chart.kap", chart);
    Outcome reference = RunOperation(c.operation, path);
    ASSERT_TRUE(reference.ok);
    std::vector<std::string> stages;  // the message of each failing size, in order
    size_t need = 0;
    for (size_t limit = 1; limit <= 1 << 16 && need == 0; ++limit) {
        MessageLog log;
        Outcome outcome = RunOperation(c.operation, path, limit);
        SCOPED_TRACE("heap of at most " + std::to_string(limit) + " bytes");
        ASSERT_EQ(outcome.blocksLeft, 0u);
        ASSERT_TRUE(outcome.fileClosed);
        if (outcome.ok) {
            EXPECT_TRUE(outcome == reference);
            EXPECT_TRUE(log.messages.empty());
            need = limit;
            break;
        }
        ASSERT_EQ(log.messages.size(), 1u);
        EXPECT_NE(std::find(kAllocationMessages.begin(), kAllocationMessages.end(), log.messages[0]),
                  kAllocationMessages.end())
            << log.messages[0];
        if (stages.empty() || stages.back() != log.messages[0]) stages.push_back(log.messages[0]);
    }
    ASSERT_GT(need, 0u);
    // Header block, bitmap, the row buffers, then a skewed window's region,
    // each failing in its turn.
    bool resampled = c.skewed && c.operation == robustness::kWorldWindow;
    std::vector<std::string> expectedStages = kAllocationMessages;
    if (resampled) expectedStages.push_back("Cannot allocate memory to save your required bmp.");
    EXPECT_EQ(stages, expectedStages);
    for (size_t limit = need; limit < need + 64; ++limit) EXPECT_TRUE(RunOperation(c.operation, path, limit) == reference);

    // An upright window holds the header block, the bitmap and two rows of
    // the raster width; a skewed one holds its region of rows as well.
    uint32_t table = chartwriter::GetBe32(chart, chart.size() - 4);
    size_t fixedNeed = chartwriter::GetBe32(chart, table) + reference.bytes.size() + 2 * robustness::kChartWidth;
    if (resampled) EXPECT_GT(need, fixedNeed);
    else EXPECT_EQ(need, fixedNeed);
}

INSTANTIATE_TEST_SUITE_P(WindowForms, HeapExhaustion,
                         ::testing::Values(HeapCase{"UprightPixel", false, robustness::kPixelWindow},
                                           HeapCase{"UprightWorld", false, robustness::kWorldWindow},
                                           HeapCase{"SkewedPixel", true, robustness::kPixelWindow},
                                           HeapCase{"SkewedWorld", true, robustness::kWorldWindow}),
                         [](const ::testing::TestParamInfo<HeapCase>& info) { return info.param.name; });

}  // namespace
