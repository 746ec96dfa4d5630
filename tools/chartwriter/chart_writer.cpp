#include "chart_writer.h"

#include <filesystem>
#include <fstream>
#include <limits>

namespace chartwriter {

uint8_t Picture::at(int x, int y) const {
    return pixels.at(static_cast<size_t>(y) * width + x);
}

void Picture::set(int x, int y, uint8_t colour) {
    pixels.at(static_cast<size_t>(y) * width + x) = colour;
}

const uint8_t* Picture::row(int y) const {
    return pixels.data() + static_cast<size_t>(y) * width;
}

Picture MakePicture(int width, int height, const std::function<uint8_t(int x, int y)>& colour) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture.set(x, y, colour(x, y));
    return picture;
}

namespace {

// The 7-bit group `index` counted from the least significant end.
uint8_t Group(uint64_t value, int index) {
    int shift = 7 * index;
    if (shift >= 64) return 0;
    return static_cast<uint8_t>((value >> shift) & 0x7F);
}

// A byte that is not the last of its row number or run.
uint8_t Continued(uint8_t byte) { return static_cast<uint8_t>(0x80 | byte); }

void AppendRowNumber(std::vector<uint8_t>& out, uint32_t rowNumber) {
    int groups = 1;
    while (groups < 5 && (rowNumber >> (7 * groups)) != 0) ++groups;
    for (int i = groups - 1; i > 0; --i) out.push_back(Continued(Group(rowNumber, i)));
    out.push_back(Group(rowNumber, 0));
}

// Following length bytes needed when the first byte holds `lengthBits` bits.
int GroupsAfterFirst(uint64_t value, int lengthBits) {
    int k = 0;
    while ((value >> (7 * k)) >= (uint64_t{1} << lengthBits)) ++k;
    return k;
}

void AppendRun(std::vector<uint8_t>& out, uint8_t colour, uint32_t length, int shift,
               int minGroups) {
    uint64_t value = length - 1;
    int k = GroupsAfterFirst(value, shift);
    if (k < minGroups - 1) k = minGroups - 1;
    if (k == 0 && colour == 0 && value == 0) k = 1;  // 0x00 would end the row

    uint8_t lengthMask = static_cast<uint8_t>((1u << shift) - 1);
    uint64_t g0 = 7 * k >= 64 ? 0 : value >> (7 * k);
    uint8_t first = static_cast<uint8_t>((colour << shift) | (g0 & lengthMask));
    if (k == 0) {
        out.push_back(first);
        return;
    }
    out.push_back(Continued(first));
    for (int i = k - 1; i > 0; --i) out.push_back(Continued(Group(value, i)));
    out.push_back(Group(value, 0));
}

void AppendSplitRun(std::vector<uint8_t>& out, uint8_t colour, uint32_t length, int shift,
                    const RowOptions& options) {
    uint32_t limit = options.maxRunLength ? options.maxRunLength : length;
    while (length > 0) {
        uint32_t piece = length < limit ? length : limit;
        AppendRun(out, colour, piece, shift, options.minGroups);
        length -= piece;
    }
}

bool ColoursFit(const uint8_t* pixels, int width, int compressionType) {
    for (int x = 0; x < width; ++x)
        if ((pixels[x] >> compressionType) != 0) return false;
    return true;
}

void AppendBe32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

std::vector<uint8_t> EncodeRow(const uint8_t* pixels, int width, uint32_t rowNumber,
                               int compressionType, const RowOptions& options) {
    if (compressionType < 1 || compressionType > 7 || width < 0 || options.minGroups < 1)
        return {};
    if (width > 0 && (pixels == nullptr || !ColoursFit(pixels, width, compressionType)))
        return {};

    int shift = 7 - compressionType;
    std::vector<uint8_t> out;
    AppendRowNumber(out, rowNumber);
    for (int x = 0; x < width;) {
        int end = x + 1;
        while (end < width && pixels[end] == pixels[x]) ++end;
        AppendSplitRun(out, pixels[x], static_cast<uint32_t>(end - x), shift, options);
        x = end;
    }
    out.push_back(0x00);
    return out;
}

std::vector<uint8_t> MakeHeaderBlock(const std::string& headerText, int compressionType) {
    std::vector<uint8_t> block(headerText.begin(), headerText.end());
    block.push_back(0x00);
    block.push_back(static_cast<uint8_t>(compressionType));
    return block;
}

std::vector<uint8_t> AssembleChart(const std::vector<uint8_t>& headerBlock,
                                   const std::vector<std::vector<uint8_t>>& encodedRows,
                                   const ChartFaults& faults) {
    std::vector<uint8_t> file = headerBlock;
    if (faults.omitHeaderNul && file.size() >= 2 && file[file.size() - 2] == 0x00)
        file.erase(file.end() - 2);

    std::vector<uint64_t> index;
    for (const auto& row : encodedRows) {
        index.push_back(file.size());
        file.insert(file.end(), row.begin(), row.end());
    }
    if (faults.swapIndexEntries) {
        auto [a, b] = *faults.swapIndexEntries;
        int rows = static_cast<int>(index.size());
        if (a < 1 || b < 1 || a > rows || b > rows) return {};
        std::swap(index[a - 1], index[b - 1]);
    }
    file.insert(file.end(), faults.gapAfterRows.value_or(0), kGapByte);

    uint64_t tableOffset = file.size();
    if (tableOffset + 4 * index.size() + 4 > std::numeric_limits<uint32_t>::max()) return {};
    for (uint64_t offset : index) AppendBe32(file, static_cast<uint32_t>(offset));
    AppendBe32(file, faults.trailer.value_or(static_cast<uint32_t>(tableOffset)));

    if (faults.truncateTo && *faults.truncateTo < file.size()) file.resize(*faults.truncateTo);
    return file;
}

std::vector<uint8_t> BuildChart(const std::string& headerText, const Picture& picture,
                                int compressionType, const ChartFaults& faults,
                                const RowOptions& rowOptions) {
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < picture.height; ++y) {
        rows.push_back(EncodeRow(picture.row(y), picture.width, static_cast<uint32_t>(y + 1),
                                 compressionType, rowOptions));
        if (rows.back().empty()) return {};
    }
    return AssembleChart(MakeHeaderBlock(headerText, compressionType), rows, faults);
}

void PutBe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t GetBe32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | bytes.at(offset + i);
    return value;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    // The path is UTF-8 on every system, Windows included.
    std::ofstream file(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

std::string MakeHeaderText(const HeaderOptions& o) {
    const std::string eol = "\r\n";
    std::string text = "VER/3.0" + eol;
    text += "BSB/NA=" + o.name + ",NU=" + o.number + ",RA=" + std::to_string(o.width) + "," +
            std::to_string(o.height) + ",DU=254" + eol;
    text += "KNP/SC=" + o.scale + ",GD=WGS84,PR=" + o.projection +
            ",PP=0.0,PI=UNKNOWN,SP=UNKNOWN,SK=" + o.skew + ",TA=90.0" + eol;
    if (o.cph) text += "CPH/" + *o.cph + eol;
    for (const auto& entry : o.rgb) {
        text += "RGB/" + std::to_string(entry[0]) + "," + std::to_string(entry[1]) + "," +
                std::to_string(entry[2]) + "," + std::to_string(entry[3]) + eol;
    }
    for (const auto& line : o.extraLines) text += line + eol;
    return text;
}

}  // namespace chartwriter
