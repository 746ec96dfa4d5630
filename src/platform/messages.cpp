// The message reporter: every message of the library goes to the host's sink
// when one is set, otherwise to the platform's own way of showing it.
#include "../../include/bsbchart_host.h"
#include "messages.h"
#include "platform.h"

namespace bsb {

// The one process-wide setting of the library: the host's choice of sink.
static ChartMessageSink g_sink = 0;
static void* g_sinkContext = 0;

static void Deliver(const unsigned short* text) {
    ChartMessageSink sink = g_sink;
    if (sink) sink(text, g_sinkContext);
    else ShowSystemMessage(text);
}

static uint32_t AppendAscii(unsigned short* out, uint32_t used, const char* text) {
    while (*text && used < kMessageCapacity - 1) out[used++] = (unsigned char)*text++;
    return used;
}

void ReportMessage(const char* text) {
    unsigned short wide[kMessageCapacity];
    wide[AppendAscii(wide, 0, text)] = 0;
    Deliver(wide);
}

uint32_t FormatCannotOpen(const unsigned short* path, unsigned short* out) {
    static const char kPrefix[] = "Cannot open file: ";
    static const char kSuffix[] = ".";
    uint32_t used = AppendAscii(out, 0, kPrefix);
    uint32_t room = kMessageCapacity - 1 - (sizeof(kSuffix) - 1);
    uint32_t i = 0;
    for (; path && path[i] != 0 && used < room; ++i) out[used++] = path[i];
    bool cut = path && path[i] != 0;
    if (cut && used > 0 && out[used - 1] >= 0xD800 && out[used - 1] <= 0xDBFF) --used;
    used = AppendAscii(out, used, kSuffix);
    out[used] = 0;
    return used;
}

void ReportCannotOpen(const unsigned short* path) {
    unsigned short wide[kMessageCapacity];
    FormatCannotOpen(path, wide);
    Deliver(wide);
}

}  // namespace bsb

void SetMessageSink(ChartMessageSink sink, void* context) {
    bsb::g_sinkContext = context;
    bsb::g_sink = sink;
}
