// Writes the seed corpora of the fuzz targets: valid charts of every
// compression type, upright and skewed, broken charts, their rows and their
// header texts. Usage: fuzz_seeds OUTPUT_DIRECTORY
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "chart_writer.h"
#include "fuzz_entries.h"

namespace {

using chartwriter::ChartFaults;
using chartwriter::HeaderOptions;
using chartwriter::Picture;

const int kWidth = 24;
const int kHeight = 16;

struct SeedWriter {
    std::filesystem::path directory;
    int count = 0;
    bool ok = true;

    void Write(const std::vector<uint8_t>& bytes) {
        std::filesystem::path file = directory / ("seed-" + std::to_string(count++));
        if (!chartwriter::WriteFileBytes(file.string(), bytes)) ok = false;
    }
};

Picture PictureFor(int compressionType) {
    int colours = 1 << compressionType;
    return chartwriter::MakePicture(kWidth, kHeight, [colours](int x, int y) {
        return (uint8_t)(((x / 3) + (y / 2) * 5) % colours);
    });
}

HeaderOptions ChartHeader(const std::string& skew) {
    HeaderOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.skew = skew;
    options.extraLines = {"PWX/1,0.0,0.125,0.0", "PWY/1,2.0,0.0,-0.125", "WPX/1,0.0,8.0,0.0",
                          "WPY/1,16.0,0.0,-8.0"};
    return options;
}

std::vector<uint8_t> Chart(int compressionType, const std::string& skew, const ChartFaults& faults = {},
                           const chartwriter::RowOptions& rows = {}) {
    return chartwriter::BuildChart(chartwriter::MakeHeaderText(ChartHeader(skew)),
                                   PictureFor(compressionType), compressionType, faults, rows);
}

std::vector<uint8_t> Request(const std::vector<uint8_t>& chart, uint32_t heapLimit = 0) {
    RECT window = {2, 1, 20, 13};
    return fuzzentry::JoinWholeFileInput(window, 0.5, 1.75, 2.25, 0.5, heapLimit, chart);
}

void WholeFileSeeds(SeedWriter* out) {
    for (int type = 1; type <= 7; ++type) {
        out->Write(Request(Chart(type, "0.0")));
        out->Write(Request(Chart(type, "30.0")));
    }
    out->Write(Request(Chart(4, "-12.5")));
    out->Write(Request(Chart(3, "0.0", {}, {2, 2})));
    out->Write(Request(Chart(4, "0.0"), 700));
    out->Write(Request(Chart(4, "30.0"), 900));
    std::vector<uint8_t> valid = Chart(4, "0.0");
    for (size_t cut : {valid.size() - 1, valid.size() - 5, valid.size() / 2, (size_t)40, (size_t)3}) {
        ChartFaults faults;
        faults.truncateTo = cut;
        out->Write(Request(Chart(4, "0.0", faults)));
    }
    ChartFaults trailer;
    trailer.trailer = 0x7FFFFFF0u;
    out->Write(Request(Chart(4, "0.0", trailer)));
    trailer.trailer = 12;
    out->Write(Request(Chart(5, "30.0", trailer)));
    ChartFaults noNul;
    noNul.omitHeaderNul = true;
    out->Write(Request(Chart(4, "0.0", noNul)));
    ChartFaults swapped;
    swapped.swapIndexEntries = std::make_pair(3, 4);
    out->Write(Request(Chart(4, "0.0", swapped)));
    out->Write(Request(Chart(6, "30.0", swapped)));
    ChartFaults gap;
    gap.gapAfterRows = 9;
    out->Write(Request(Chart(2, "0.0", gap)));
}

void RowSeeds(SeedWriter* out) {
    for (int type = 1; type <= 7; ++type) {
        Picture picture = PictureFor(type);
        for (auto options : {chartwriter::RowOptions{}, chartwriter::RowOptions{3, 1},
                             chartwriter::RowOptions{0, 3}}) {
            std::vector<uint8_t> row =
                chartwriter::EncodeRow(picture.row(5), kWidth, 200, type, options);
            std::vector<uint8_t> input = {(uint8_t)(type + 1), kWidth - 1, 0};
            input.insert(input.end(), row.begin(), row.end());
            out->Write(input);
        }
    }
}

void HeaderSeeds(SeedWriter* out) {
    HeaderOptions plain = ChartHeader("0.0");
    std::string text = chartwriter::MakeHeaderText(plain);
    out->Write(std::vector<uint8_t>(text.begin(), text.end()));
    HeaderOptions odd = ChartHeader("1.5e+03");
    odd.cph = "-.5";
    odd.rgb.push_back({300, 100, 200, 7});
    odd.extraLines = {"PWX/2,150.5,10.25,-3.5,0.125,-0.5", "    0.0625", "WPY/5,1,2,3,4,5,6,7,8,9,10,11,12",
                      "WPX/9,1.0", "PWY/3,1.5E+3,-2e-02,,7"};
    text = chartwriter::MakeHeaderText(odd);
    out->Write(std::vector<uint8_t>(text.begin(), text.end()));
    HeaderOptions longSkew = ChartHeader("0.000000000000000000001");
    longSkew.cph.reset();
    longSkew.rgb.clear();
    text = chartwriter::MakeHeaderText(longSkew);
    out->Write(std::vector<uint8_t>(text.begin(), text.end()));
    for (std::string record : {std::string("RA=980,760"), std::string("SK=-12.25\r"),
                               std::string("RGB/3,120,64,0\rRGB/3,1"), std::string("CPH/180.0")})
        out->Write(std::vector<uint8_t>(record.begin(), record.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    std::filesystem::path root(argv[1]);
    bool ok = true;
    struct Corpus {
        const char* name;
        void (*make)(SeedWriter*);
    } corpora[] = {{"row_decoder", RowSeeds}, {"header_readers", HeaderSeeds},
                   {"whole_file", WholeFileSeeds}};
    for (const Corpus& corpus : corpora) {
        SeedWriter writer;
        writer.directory = root / corpus.name;
        std::error_code error;
        std::filesystem::create_directories(writer.directory, error);
        corpus.make(&writer);
        if (!writer.ok || error) {
            fprintf(stderr, "fuzz_seeds: cannot write the %s seeds\n", corpus.name);
            ok = false;
        }
        printf("%s: %d seeds\n", corpus.name, writer.count);
    }
    return ok ? 0 : 1;
}
