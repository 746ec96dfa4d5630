// One handle used by several threads at once: pixel and world windows,
// conversions, the extent and the metadata give what they give on one
// thread. Run under ThreadSanitizer by tests/run_sanitizers.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "c_interface_support.h"

namespace {

using cinterface::Bytes;
using cinterface::Handle;
using cinterface::TestChart;

const int kThreads = 4;
const int kRounds = 30;

// One call on the handle, flattened to bytes: its status and result.
struct Operation {
    const char* name;
    Bytes (*run)(const bsbchart* chart, int variant);
};

template <typename T>
void Append(Bytes* out, const T& value) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    out->insert(out->end(), p, p + sizeof value);
}

Bytes WindowResult(const cinterface::Window& window) {
    Bytes out;
    Append(&out, window.status);
    out.insert(out.end(), window.bytes.begin(), window.bytes.end());
    return out;
}

const Operation kOperations[] = {
    {"pixel window",
     [](const bsbchart* chart, int v) {
         return WindowResult(cinterface::PixelWindow(chart, {v % 7, v % 5, 30 + v % 11, 15 + v % 7}));
     }},
    {"pixel window, stored colours",
     [](const bsbchart* chart, int v) {
         return WindowResult(
             cinterface::PixelWindow(chart, {0, v % 9, 44, 22}, BSBCHART_PALETTE_RGB, 0));
     }},
    {"world window",
     [](const bsbchart* chart, int v) {
         double d = 0.25 * (v % 8);
         return WindowResult(cinterface::WorldWindow(chart, {-10.0 + d, 5.0 - d, 20.0 + d, -10.0 + d}));
     }},
    {"world window over the edge",
     [](const bsbchart* chart, int v) {
         return WindowResult(cinterface::WorldWindow(chart, {-40.0 + v % 3, 40.0, 60.0, -60.0}));
     }},
    {"window into a host heap",
     [](const bsbchart* chart, int v) {
         testsupport::HostHeap heap;
         bsbchart_allocator allocator;
         bsbchart_heap_allocator(heap.get(), &allocator);
         void* bitmap = nullptr;
         bsbchart_status status = bsbchart_pixel_window(chart, {v % 4, 1, 40, 20}, 0, 1, &allocator,
                                                        &bitmap, nullptr);
         Bytes out;
         Append(&out, status);
         if (bitmap) {
             Bytes bytes = cinterface::BitmapBytes(bitmap);
             out.insert(out.end(), bytes.begin(), bytes.end());
             FreeChartBlock(heap.get(), bitmap);
         }
         Append(&out, heap.blocks());
         return out;
     }},
    {"conversions",
     [](const bsbchart* chart, int v) {
         Bytes out;
         for (int i = 0; i < 50; ++i) {
             double a = 0.37 * i + v, b = 0.21 * i - v, x, y, column, row;
             Append(&out, bsbchart_pixel_to_world(chart, a, b, &x, &y, nullptr));
             Append(&out, bsbchart_world_to_pixel(chart, x, y, &column, &row, nullptr));
             Append(&out, x), Append(&out, y), Append(&out, column), Append(&out, row);
         }
         double extent[4];
         Append(&out, bsbchart_world_extent(chart, &extent[0], &extent[1], &extent[2], &extent[3],
                                            nullptr));
         Append(&out, extent);
         return out;
     }},
    {"metadata",
     [](const bsbchart* chart, int) {
         Bytes out;
         bsbchart_info info;
         Append(&out, bsbchart_get_info(chart, &info));
         Append(&out, info.width), Append(&out, info.height), Append(&out, info.palettes);
         for (int field = 0; field < BSBCHART_FIELD_COUNT; ++field) {
             const char* value = bsbchart_get_field(chart, field);
             if (value) out.insert(out.end(), value, value + std::strlen(value));
             out.push_back(0);
         }
         uint8_t table[1024];
         Append(&out, bsbchart_get_palette(chart, 0, 1, table));
         out.insert(out.end(), table, table + sizeof table);
         return out;
     }},
    {"a window that fails",
     [](const bsbchart* chart, int v) {
         cinterface::Window window = cinterface::PixelWindow(chart, {40, 0, 50 + v % 3, 5});
         Bytes out = WindowResult(window);
         Append(&out, window.error.row);
         return out;
     }},
};

const int kVariants = 12;

TEST(CInterfaceThreads, OneHandleServesManyThreads) {
    testsupport::TempDir dir;
    testsupport::MessageLog log;  // before any thread starts
    for (int type : {1, 4, 7}) {
        for (bool skewed : {false, true}) {
            TestChart chart = cinterface::WriteChart(
                dir, "threads.kap", type, skewed ? cinterface::Skewed() : cinterface::Upright());
            SCOPED_TRACE(chart.name + " type " + std::to_string(type) + (skewed ? " skewed" : ""));
            Handle handle = cinterface::Open(chart.path);
            ASSERT_TRUE(handle);
            const bsbchart* shared = handle.get();
            // What each operation gives on one thread.
            std::vector<std::vector<Bytes>> reference(std::size(kOperations));
            for (size_t op = 0; op < std::size(kOperations); ++op)
                for (int v = 0; v < kVariants; ++v) reference[op].push_back(kOperations[op].run(shared, v));
            ASSERT_EQ(reference[0][0].size() > sizeof(bsbchart_status), true);

            std::atomic<int> ready{0};
            std::vector<std::string> mismatches[kThreads];
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    ++ready;
                    while (ready.load() < kThreads) std::this_thread::yield();
                    for (int round = 0; round < kRounds; ++round) {
                        size_t op = (t + round) % std::size(kOperations);
                        int v = (t * 5 + round) % kVariants;
                        if (kOperations[op].run(shared, v) != reference[op][v])
                            mismatches[t].push_back(std::string(kOperations[op].name) + ", variant " +
                                                    std::to_string(v) + ", round " +
                                                    std::to_string(round));
                    }
                });
            }
            for (auto& thread : threads) thread.join();
            for (int t = 0; t < kThreads; ++t)
                EXPECT_TRUE(mismatches[t].empty()) << "thread " << t << ": " << mismatches[t][0];
        }
    }
    EXPECT_TRUE(log.messages.empty());
}

// Handles opened and closed on several threads while others read from their
// own: every open succeeds and every window matches.
TEST(CInterfaceThreads, HandlesOpenAndCloseWhileOthersRead) {
    testsupport::TempDir dir;
    testsupport::MessageLog log;
    TestChart chart = cinterface::WriteChart(dir, "many.kap", 4, cinterface::Skewed());
    Handle first = cinterface::Open(chart.path);
    ASSERT_TRUE(first);
    Bytes reference = WindowResult(cinterface::WorldWindow(first.get(), {-10.0, 5.0, 20.0, -10.0}));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                bsbchart_status status;
                Handle own = cinterface::Open(chart.path, &status);
                if (status != BSBCHART_OK) {
                    ++failures;
                    continue;
                }
                if (WindowResult(cinterface::WorldWindow(own.get(), {-10.0, 5.0, 20.0, -10.0})) != reference)
                    ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(log.messages.empty());
}

}  // namespace
