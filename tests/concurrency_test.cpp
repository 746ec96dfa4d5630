// Calls from several threads at once: on different charts, each with its own
// heap, they return what they return alone; on one chart, a call made while
// the chart is open elsewhere fails to open it.
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "robustness_support.h"

namespace {

using robustness::kOperations;
using robustness::NameOf;
using robustness::Operation;
using robustness::Outcome;
using robustness::RunOperation;
using testsupport::MessageLog;
using testsupport::TempDir;

const int kRounds = 50;

struct ChartCase {
    std::string path;
    std::vector<Outcome> reference;  // one per operation, run alone
};

std::vector<ChartCase> WriteCharts(const TempDir& dir) {
    std::vector<ChartCase> charts;
    struct Kind {
        bool skewed;
        int compressionType;
    } kinds[] = {{false, 1}, {false, 4}, {false, 7}, {true, 4}};
    for (const Kind& kind : kinds) {
        ChartCase chart;
        chart.path = dir.Write("chart" + std::to_string(charts.size()) + ".kap",
                               robustness::SmallChart(kind.skewed, kind.compressionType));
        for (Operation operation : kOperations) chart.reference.push_back(RunOperation(operation, chart.path));
        charts.push_back(chart);
    }
    return charts;
}

TEST(Concurrency, DifferentChartsGiveTheirSingleThreadedResults) {
    TempDir dir;
    std::vector<ChartCase> charts = WriteCharts(dir);
    for (const ChartCase& chart : charts)
        for (const Outcome& outcome : chart.reference) ASSERT_TRUE(outcome.ok);
    MessageLog log;  // set before any thread starts
    std::vector<std::string> mismatches[4];
    std::vector<std::thread> threads;
    for (size_t t = 0; t < charts.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (Operation operation : kOperations) {
                    Outcome outcome = RunOperation(operation, charts[t].path);
                    if (!(outcome == charts[t].reference[operation]) || outcome.blocksLeft != 0)
                        mismatches[t].push_back(std::string(NameOf(operation)) + " round " +
                                                std::to_string(round));
                }
        });
    }
    for (auto& thread : threads) thread.join();
    for (size_t t = 0; t < charts.size(); ++t)
        EXPECT_TRUE(mismatches[t].empty()) << charts[t].path << ": " << mismatches[t][0];
    EXPECT_TRUE(log.messages.empty()) << log.messages[0];
}

// One thread holds the chart open while another calls every operation on it.
TEST(Concurrency, CallOnChartHeldOpenFailsToOpenIt) {
    TempDir dir;
    std::string path = dir.Write("held.kap", robustness::SmallChart(false));
    std::vector<unsigned short> wide = testsupport::Utf16Path(path);
    MessageLog log;
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool callsDone = false;
    std::thread holder([&] {
        bsb::ChartFile file;
        bool opened = testsupport::OpenQuietly(&file, wide.data());
        std::unique_lock<std::mutex> lock(mutex);
        held = opened;
        changed.notify_all();
        if (!opened) return;
        changed.wait(lock, [&] { return callsDone; });
        bsb::CloseChartFile(&file);
    });
    std::vector<Outcome> whileHeld;
    std::thread caller([&] {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return held; })) return;
        }
        for (Operation operation : kOperations) whileHeld.push_back(RunOperation(operation, path));
        std::lock_guard<std::mutex> lock(mutex);
        callsDone = true;
        changed.notify_all();
    });
    caller.join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        callsDone = true;
        changed.notify_all();
    }
    holder.join();
    ASSERT_TRUE(held);
    ASSERT_EQ(whileHeld.size(), 4u);
    for (const Outcome& outcome : whileHeld) {
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.blocksLeft, 0u);
    }
    EXPECT_EQ(log.messages, std::vector<std::string>(4, "Cannot open file: " + path + "."));
    // Once the holder has closed it, the chart opens again.
    for (Operation operation : kOperations) EXPECT_TRUE(RunOperation(operation, path).ok) << NameOf(operation);
}

// Two threads racing on one chart: each call either gets the chart and the
// single-threaded result, or fails to open it with its one message.
TEST(Concurrency, RacingCallsOnOneChartOpenOrFailCleanly) {
    TempDir dir;
    std::vector<ChartCase> charts = WriteCharts(dir);
    const ChartCase& chart = charts[3];
    MessageLog log;
    std::atomic<int> failures{0};
    std::atomic<int> mismatches{0};
    auto hammer = [&] {
        for (int round = 0; round < kRounds; ++round)
            for (Operation operation : kOperations) {
                Outcome outcome = RunOperation(operation, chart.path);
                if (!outcome.ok) ++failures;
                else if (!(outcome == chart.reference[operation])) ++mismatches;
                if (outcome.blocksLeft != 0) ++mismatches;
            }
    };
    std::thread first(hammer);
    std::thread second(hammer);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
    ASSERT_EQ(log.messages.size(), (size_t)failures.load());
    for (const std::string& message : log.messages) EXPECT_EQ(message, "Cannot open file: " + chart.path + ".");
}

}  // namespace
