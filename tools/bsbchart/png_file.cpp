#include "png_file.h"

#if !defined(BSBCHART_HAVE_SPNG)

namespace command {

static const char kNoPng[] = "this bsbchart was built without PNG output (it needs the Debian package libspng-dev)";

std::string EncodePng(const PngImage&, std::vector<uint8_t>& png, int) {
    png.clear();
    return kNoPng;
}

std::string PngFromBitmap(const void*, std::vector<uint8_t>& png, int) {
    png.clear();
    return kNoPng;
}

}  // namespace command

#else

#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace command {

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

std::string SpngProblem(const char* step, int error) {
    return std::string("cannot encode the PNG image (") + step + ": " + spng_strerror(error) + ")";
}

size_t PngRowBytes(const PngImage& image) {
    const size_t channels = image.kind == PngKind::Rgba ? 4 : image.kind == PngKind::Rgb ? 3 : 1;
    return (static_cast<size_t>(image.width) * channels * image.bitDepth + 7) / 8;
}

}  // namespace

std::string EncodePng(const PngImage& image, std::vector<uint8_t>& png, int compressionLevel) {
    png.clear();
    if (image.width == 0 || image.height == 0 || !image.rows) return "the image is empty";
    const bool indexed = image.kind == PngKind::Indexed;
    if (indexed ? (image.bitDepth != 1 && image.bitDepth != 2 && image.bitDepth != 4 && image.bitDepth != 8)
                : image.bitDepth != 8)
        return "unsupported PNG bit depth";
    if (indexed && (image.palette.empty() || image.palette.size() > 256 ||
                    image.alpha.size() > image.palette.size()))
        return "the PNG palette has the wrong size";
    const size_t rowBytes = PngRowBytes(image);
    if (image.stride < rowBytes) return "the image rows are too short";

    std::unique_ptr<spng_ctx, ContextFree> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) return "cannot encode the PNG image (out of memory)";
    spng_ctx* ctx = context.get();
    int error = spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    if (!error) error = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, compressionLevel);
    // Filters only pay on continuous-tone colour; indexed rows compress best
    // as they are.
    if (!error && indexed) error = spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING);
    if (error) return SpngProblem("options", error);

    spng_ihdr ihdr{};
    ihdr.width = image.width;
    ihdr.height = image.height;
    ihdr.bit_depth = static_cast<uint8_t>(image.bitDepth);
    ihdr.color_type = indexed ? SPNG_COLOR_TYPE_INDEXED
                              : image.kind == PngKind::Rgba ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                                                            : SPNG_COLOR_TYPE_TRUECOLOR;
    if ((error = spng_set_ihdr(ctx, &ihdr))) return SpngProblem("header", error);
    if (indexed) {
        spng_plte plte{};
        plte.n_entries = static_cast<uint32_t>(image.palette.size());
        for (size_t i = 0; i < image.palette.size(); ++i) {
            plte.entries[i].red = image.palette[i][0];
            plte.entries[i].green = image.palette[i][1];
            plte.entries[i].blue = image.palette[i][2];
        }
        if ((error = spng_set_plte(ctx, &plte))) return SpngProblem("palette", error);
        if (!image.alpha.empty()) {
            spng_trns trns{};
            trns.n_type3_entries = static_cast<uint32_t>(image.alpha.size());
            std::memcpy(trns.type3_alpha, image.alpha.data(), image.alpha.size());
            if ((error = spng_set_trns(ctx, &trns))) return SpngProblem("transparency", error);
        }
    }

    error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    if (error) return SpngProblem("start", error);
    for (uint32_t y = 0; y < image.height; ++y) {
        error = spng_encode_row(ctx, image.rows + static_cast<size_t>(y) * image.stride, rowBytes);
        if (error && !(error == SPNG_EOI && y + 1 == image.height)) return SpngProblem("rows", error);
    }
    size_t length = 0;
    void* buffer = spng_get_png_buffer(ctx, &length, &error);
    if (!buffer) return SpngProblem("finish", error);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    png.assign(bytes, bytes + length);
    std::free(buffer);
    return "";
}

std::string PngFromBitmap(const void* packed, std::vector<uint8_t>& png, int compressionLevel) {
    png.clear();
    const auto* b = static_cast<const uint8_t*>(packed);
    const int32_t width = static_cast<int32_t>(Le32(b + 4));
    const int32_t height = static_cast<int32_t>(Le32(b + 8));
    const int bpp = b[14] | (b[15] << 8);
    if (Le32(b) != 40 || width <= 0 || height >= 0 || height == INT32_MIN)
        return "the bitmap is not a top-down device-independent bitmap";
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return "the bitmap has " + std::to_string(bpp) + " bits per pixel";
    const uint32_t rows = static_cast<uint32_t>(-static_cast<int64_t>(height));
    const size_t stride = (static_cast<size_t>(bpp) * width + 31) / 32 * 4;
    const uint8_t* table = b + 40;

    PngImage image;
    image.width = static_cast<uint32_t>(width);
    image.height = rows;
    if (bpp == 24) {
        // Rows of blue, green, red: turned into red, green, blue.
        std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3 * rows);
        const uint8_t* from = b + 40;
        for (uint32_t y = 0; y < rows; ++y) {
            const uint8_t* in = from + y * stride;
            uint8_t* out = rgb.data() + static_cast<size_t>(y) * width * 3;
            for (int32_t x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        }
        image.kind = PngKind::Rgb;
        image.rows = rgb.data();
        image.stride = static_cast<size_t>(width) * 3;
        return EncodePng(image, png, compressionLevel);
    }
    const uint32_t used = Le32(b + 32);
    const uint32_t entries = used != 0 && used <= (1u << bpp) ? used : 1u << bpp;
    image.kind = PngKind::Indexed;
    image.bitDepth = bpp;
    image.palette.resize(entries);
    for (uint32_t i = 0; i < entries; ++i)
        image.palette[i] = {table[4 * i + 2], table[4 * i + 1], table[4 * i]};
    image.rows = table + 4 * static_cast<size_t>(entries);
    image.stride = stride;
    return EncodePng(image, png, compressionLevel);
}

}  // namespace command

#endif
