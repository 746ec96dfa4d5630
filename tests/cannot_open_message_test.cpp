// The "Cannot open file: <path>." text: cut to fit 500 UTF-16 units with its
// terminator, never inside a surrogate pair.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "report/reporter.h"
#include "shown_messages.h"

namespace {

using testsupport::Concat;
using testsupport::ScopedUnitSink;
using testsupport::ShowCannotOpen;
using testsupport::Units;
using testsupport::UnitsOf;

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

}  // namespace
