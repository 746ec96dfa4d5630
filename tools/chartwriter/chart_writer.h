// Writes BSB raster chart files for tests, tools, benchmarks and fuzz seeds,
// including deliberately broken ones.
//
// File layout: header block (header text, NUL, compression type byte), the
// encoded rows in order, an index table of 32-bit big-endian row offsets, and
// a 32-bit big-endian trailer holding the index table's offset.
//
// Every function that can be given bad input returns an empty vector (or
// false) instead of producing a malformed file by accident.
#ifndef CHARTWRITER_CHART_WRITER_H
#define CHARTWRITER_CHART_WRITER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chartwriter {

// Colour indices, row-major, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    uint8_t at(int x, int y) const;
    void set(int x, int y, uint8_t colour);
    const uint8_t* row(int y) const;
};

Picture MakePicture(int width, int height, const std::function<uint8_t(int x, int y)>& colour);

struct RowOptions {
    // Runs longer than this are written as several runs of the same colour;
    // 0 means no limit.
    uint32_t maxRunLength = 0;
    // Every run takes at least this many bytes (its first byte counts as
    // one), padded with leading zero length groups. 1 = shortest encoding;
    // 2 forces multi-byte runs even where one byte would do.
    int minGroups = 1;
};

// One encoded row: row-number prefix, runs, 0x00 terminator.
// Empty if compressionType is outside 1..7, width < 0, minGroups < 1, or a
// colour index does not fit in compressionType bits.
// A colour-0 one-pixel run would encode as 0x00, the terminator, so it is
// written in its two-byte form 0x80 0x00 instead.
std::vector<uint8_t> EncodeRow(const uint8_t* pixels, int width, uint32_t rowNumber,
                               int compressionType, const RowOptions& options = {});

struct ChartFaults {
    // Drops the NUL between header text and compression byte (if there is one).
    bool omitHeaderNul = false;
    // Written as the trailer instead of the index table's offset.
    std::optional<uint32_t> trailer;
    // 1-based rows whose index entries are swapped; out of range -> empty result.
    std::optional<std::pair<int, int>> swapIndexEntries;
    // The finished file is cut to this many bytes.
    std::optional<size_t> truncateTo;
    // This many junk bytes (kGapByte) between the last row and the index table.
    std::optional<size_t> gapAfterRows;
};

constexpr uint8_t kGapByte = 0xA5;

// Header text, NUL, compression type.
std::vector<uint8_t> MakeHeaderBlock(const std::string& headerText, int compressionType);

// Lays out a file from a header block and encoded rows taken as given.
// Empty if the swap is out of range or the file would not fit 32-bit offsets.
std::vector<uint8_t> AssembleChart(const std::vector<uint8_t>& headerBlock,
                                   const std::vector<std::vector<uint8_t>>& encodedRows,
                                   const ChartFaults& faults = {});

// A whole chart: row y of the picture is written as row number y + 1.
// Empty if any row fails to encode.
std::vector<uint8_t> BuildChart(const std::string& headerText, const Picture& picture,
                                int compressionType, const ChartFaults& faults = {},
                                const RowOptions& rowOptions = {});

// For patching files by hand, e.g. an index entry pointing past the end.
void PutBe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
uint32_t GetBe32(const std::vector<uint8_t>& bytes, size_t offset);

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Values are written verbatim, so a test can give "0.0" or "1e-3" or junk.
struct HeaderOptions {
    int width = 0;
    int height = 0;
    std::string name = "TEST CHART";
    std::string number = "1";
    std::string scale = "50000";
    std::string projection = "MERCATOR";
    std::string skew = "0.0";
    std::optional<std::string> cph = "0.0";  // nullopt: no CPH/ line
    std::vector<std::array<int, 4>> rgb = {
        {1, 255, 255, 255}, {2, 0, 0, 0}, {3, 255, 0, 0}, {4, 0, 0, 255}};
    std::vector<std::string> extraLines;  // appended verbatim, e.g. "PWX/1,0.0,0.125,0.0"
};

// VER/, BSB/ (NA, NU, RA=width,height, DU), KNP/ (SC, GD, PR, ..., SK, ...),
// optional CPH/, one RGB/ line per entry, then extraLines; every line ends
// with CR LF.
std::string MakeHeaderText(const HeaderOptions& options);

}  // namespace chartwriter

#endif
