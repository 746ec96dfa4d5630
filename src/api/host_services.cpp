// The host services of bsbchart_host.h: heaps for hosts without one of their
// own, and the sink that receives the library's messages.
#include "bsbchart_host.h"
#include "platform/platform.h"
#include "report/reporter.h"

void* CreateChartHeap(std::size_t maximumSize) {
    return bsb::CreateHostHeap(maximumSize);
}

void FreeChartBlock(void* heap, void* block) {
    bsb::FreeBlock(heap, block);
}

void DestroyChartHeap(void* heap) {
    bsb::DestroyHostHeap(heap);
}

std::size_t CountChartBlocks(void* heap) {
    return (std::size_t)bsb::CountHeapBlocks(heap);
}

void SetMessageSink(ChartMessageSink sink, void* context) {
    bsb::SetReporterSink(sink, context);
}
