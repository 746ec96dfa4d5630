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
