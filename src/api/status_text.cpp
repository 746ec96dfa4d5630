// The C interface's statuses as short English texts.
#include "bsbchart_c.h"

static const char* const kStatusTexts[] = {
    "success",
    "bad argument",
    "path not valid or too long",
    "no such file",
    "permission denied",
    "chart in use",
    "not a regular file",
    "cannot open file",
    "header missing or truncated",
    "raster size record missing or invalid",
    "record missing or unreadable",
    "compression type invalid",
    "row cannot be read",
    "row does not decode",
    "out of memory",
    "window outside the chart",
    "the chart has no such palette",
};

const char* bsbchart_strerror(int32_t status) {
    const int32_t count = (int32_t)(sizeof(kStatusTexts) / sizeof(kStatusTexts[0]));
    return status >= 0 && status < count ? kStatusTexts[status] : "unknown status";
}

// Appends `text` to the output, cut to its capacity; counts every byte.
static void Append(char* out, size_t capacity, size_t* used, const char* text) {
    for (; *text; ++text, ++*used)
        if (*used + 1 < capacity) out[*used] = *text;
}

static void AppendNumber(char* out, size_t capacity, size_t* used, int32_t value) {
    char digits[16];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
    do {
        digits[n++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) digits[n++] = '-';
    char text[16];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = 0;
    Append(out, capacity, used, text);
}

size_t bsbchart_error_text(const bsbchart_error* error, const char* path, char* text,
                           size_t capacity) {
    size_t used = 0;
    int32_t status = error ? error->status : BSBCHART_E_ARGUMENT;
    if ((status == BSBCHART_E_ROW_READ || status == BSBCHART_E_ROW_DECODE) && error->row >= 0) {
        Append(text, capacity, &used, "row ");
        AppendNumber(text, capacity, &used, error->row);
        Append(text, capacity, &used, status == BSBCHART_E_ROW_READ ? " cannot be read"
                                                                    : " does not decode");
    } else if ((status == BSBCHART_E_RECORD || status == BSBCHART_E_PALETTE) && error->record[0]) {
        // The key may fill its field without a terminator.
        char record[sizeof(error->record) + 1] = {0};
        for (size_t i = 0; i < sizeof(error->record) && error->record[i]; ++i) record[i] = error->record[i];
        bool palette = status == BSBCHART_E_PALETTE;
        Append(text, capacity, &used, palette ? "the chart has no " : "record ");
        Append(text, capacity, &used, record);
        Append(text, capacity, &used, palette ? " palette" : " missing or unreadable");
    } else {
        Append(text, capacity, &used, bsbchart_strerror(status));
    }
    if (path && status != BSBCHART_OK) {
        Append(text, capacity, &used, ": ");
        Append(text, capacity, &used, path);
    }
    if (capacity > 0) text[used < capacity ? used : capacity - 1] = 0;
    return used;
}
