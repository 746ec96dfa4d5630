// The rows of a chart that a list of file reads brought in, from the chart's
// index table: each read must take whole rows, from the start of one row to
// the end of the same or a later one.
#ifndef BSBCHART_ROW_READS_H
#define BSBCHART_ROW_READS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "chart_writer.h"

namespace testsupport {

// Byte offsets of every row in the file and one past the last.
inline std::vector<uint32_t> RowOffsets(const std::vector<uint8_t>& bytes, int height) {
    uint32_t table = chartwriter::GetBe32(bytes, bytes.size() - 4);
    std::vector<uint32_t> offsets;
    for (int r = 0; r < height; ++r) offsets.push_back(chartwriter::GetBe32(bytes, table + 4 * r));
    offsets.push_back(table);
    return offsets;
}

// The 0-based rows the reads covered, in the order read. A read that does
// not take whole rows is a test failure.
template <typename Read>
std::vector<int> RowsRead(const std::vector<Read>& reads, const std::vector<uint32_t>& offsets) {
    std::vector<int> rows;
    for (const Read& read : reads) {
        auto first = std::lower_bound(offsets.begin(), offsets.end() - 1, static_cast<uint32_t>(read.offset));
        auto last = std::lower_bound(offsets.begin(), offsets.end(),
                                     static_cast<uint32_t>(read.offset + static_cast<int64_t>(read.count)));
        if (read.offset < 0 || first == offsets.end() - 1 || *first != read.offset || last == offsets.end() ||
            *last != read.offset + static_cast<int64_t>(read.count) || last <= first) {
            ADD_FAILURE() << "a read of " << read.count << " bytes at " << read.offset
                          << " does not take whole rows";
            continue;
        }
        for (auto at = first; at < last; ++at) rows.push_back(static_cast<int>(at - offsets.begin()));
    }
    return rows;
}

}  // namespace testsupport

#endif
