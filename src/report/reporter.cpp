#include "report/reporter.h"

#include "platform/platform.h"
#include "text/utf.h"

namespace bsb {

struct MessageEntry {
    const char* text;
    Status status;
};

static const MessageEntry kMessages[kMessageCount] = {
    {"Cannot allocate memory to save header section.", kStatusNoMemory},
    {"Error reading header.", kStatusHeader},
    {"real line size is bigger than you expected.", kStatusRowRead},
    {"Error reading one line image.", kStatusRowRead},
    {"Error reading the size of the image.", kStatusRasterSize},
    {"Error reading skew angle of the image.", kStatusRecord},
    {"Error reading CPH record.", kStatusRecord},
    {"Error reading RGB records.", kStatusRecord},
    {"Error reading geographic parameters.", kStatusRecord},
    {"Compression type should be between 1 and 7!", kStatusCompression},
    {"Error decoding the image line!", kStatusRowDecode},
    {"Create a heap first please.", kStatusArgument},
    {"Your requirement is beyond the scope of the image.", kStatusOutside},
    {"Cannot allocate memory to save your required bmp.", kStatusNoMemory},
    {"Cannot allocate memory for one line image", kStatusNoMemory},
};

const char* MessageText(Message message) {
    return message >= 0 && message < kMessageCount ? kMessages[message].text : "";
}

static Reporter NewReporter(bool show) {
    Reporter reporter = {show, kStatusOk, -1, {0}, 0};
    return reporter;
}

Reporter ShowingReporter() { return NewReporter(true); }
Reporter QuietReporter() { return NewReporter(false); }

// The one process-wide setting of the library: the host's choice of sink.
static MessageSink g_sink = 0;
static void* g_sinkContext = 0;

void SetReporterSink(MessageSink sink, void* context) {
    g_sinkContext = context;
    g_sink = sink;
}

static void Deliver(const unsigned short* text) {
    MessageSink sink = g_sink;
    if (sink) sink(text, g_sinkContext);
    else ShowSystemMessage(text);
}

static uint32_t AppendAscii(unsigned short* out, uint32_t used, const char* text) {
    while (*text && used < kMessageCapacity - 1) out[used++] = (unsigned char)*text++;
    return used;
}

static void Record(Reporter* reporter, Status status, const char* record) {
    if (reporter->status != kStatusOk) return;
    reporter->status = status;
    uint32_t i = 0;
    for (; record && record[i] && i < sizeof(reporter->record) - 1; ++i) reporter->record[i] = record[i];
    reporter->record[i] = 0;
}

bool FailQuietly(Reporter* reporter, Status status, const char* record) {
    Record(reporter, status, record);
    return false;
}

bool Fail(Reporter* reporter, Message message, const char* record) {
    if (reporter->show) {
        unsigned short wide[kMessageCapacity];
        wide[AppendAscii(wide, 0, MessageText(message))] = 0;
        Deliver(wide);
    }
    return FailQuietly(reporter, kMessages[message].status, record);
}

bool FailRow(Reporter* reporter, Message message, int64_t row) {
    bool first = reporter->status == kStatusOk;
    Fail(reporter, message);
    if (first) reporter->row = row >= 0 && row <= 0x7FFFFFFF ? (int32_t)row : -1;
    return false;
}

// The path is cut so that the text and its terminator fit, never inside a
// surrogate pair.
static uint32_t CutPath(const unsigned short* path, unsigned short* cut, uint32_t room) {
    uint32_t length = 0;
    for (; path && path[length] != 0 && length < room; ++length) cut[length] = path[length];
    bool truncated = path && path[length] != 0;
    if (truncated && length > 0 && IsHighSurrogate(cut[length - 1])) --length;
    cut[length] = 0;
    return length;
}

uint32_t ComposeCannotOpen(const unsigned short* path, unsigned short* out) {
    static const char kPrefix[] = "Cannot open file: ";
    const uint32_t kRoom = kMessageCapacity - sizeof("Cannot open file: .");
    unsigned short cut[kMessageCapacity];
    uint32_t length = CutPath(path, cut, kRoom);
    if (FormatCannotOpen(cut, out)) {
        uint32_t used = 0;
        while (out[used]) ++used;
        return used;
    }
    uint32_t used = AppendAscii(out, 0, kPrefix);
    for (uint32_t i = 0; i < length; ++i) out[used++] = cut[i];
    used = AppendAscii(out, used, ".");
    out[used] = 0;
    return used;
}

bool FailCannotOpen(Reporter* reporter, const unsigned short* path, Status status,
                    int32_t systemError) {
    if (reporter->show) {
        unsigned short wide[kMessageCapacity];
        ComposeCannotOpen(path, wide);
        Deliver(wide);
    }
    bool first = reporter->status == kStatusOk;
    Record(reporter, status, 0);
    if (first) reporter->systemError = systemError;
    return false;
}

}  // namespace bsb
