#include "api/call_frame.h"

#include <string.h>

namespace bsb {

static bool OpenAndReadLength(CallFrame* frame, const unsigned short* path, uint32_t* length) {
    if (!OpenChart(&frame->file, path, &frame->reporter)) return false;
    frame->fileOpen = true;
    return ReadHeaderLength(&frame->file, length, &frame->reporter);
}

static void BeginCall(CallFrame* frame) {
    memset(frame, 0, sizeof(*frame));
    frame->reporter = ShowingReporter();
}

bool BeginExtentCall(CallFrame* frame, const unsigned short* path) {
    BeginCall(frame);
    uint32_t length = 0;
    if (!OpenAndReadLength(frame, path, &length)) return false;
    frame->privateHeap = CreatePrivateHeap(length);
    if (!frame->privateHeap) return Fail(&frame->reporter, kCannotAllocateHeader);
    return LoadHeaderBlock(&frame->file, HeapAllocator(frame->privateHeap), length, &frame->header,
                           &frame->reporter);
}

bool BeginWindowCall(CallFrame* frame, const unsigned short* path, void* heap) {
    BeginCall(frame);
    if (!heap) return Fail(&frame->reporter, kCreateHeapFirst);
    Allocator memory = HeapAllocator(heap);
    uint32_t length = 0;
    if (!OpenAndReadLength(frame, path, &length) ||
        !LoadHeaderBlock(&frame->file, memory, length, &frame->header, &frame->reporter)) {
        frame->window.memory = memory;  // for the header block's release
        return false;
    }
    RowSource rows = {&frame->file, 0, {0, 0}};
    BeginWindowFrame(&frame->window, memory, &frame->reporter, HeaderTextOf(*frame),
                     CompressionType(frame->header), rows);
    return true;
}

void BeginWindowFrame(WindowFrame* window, const Allocator& memory, Reporter* reporter,
                      HeaderText text, int compressionType, RowSource rows) {
    memset(window, 0, sizeof(*window));
    window->memory = memory;
    window->reporter = reporter;
    window->text = text;
    window->compressionType = compressionType;
    window->rows = rows;
}

char* EndWindowFrame(WindowFrame* window, bool keepBitmap) {
    char* result = keepBitmap ? (char*)window->bitmap.block : 0;
    Release(window->memory, window->region);
    if (!keepBitmap) Release(window->memory, window->bitmap.block);
    Release(window->memory, window->encodedRow);
    Release(window->memory, window->decodedRow);
    return result;
}

HeaderText HeaderTextOf(const CallFrame& frame) {
    HeaderText text = {frame.header.bytes, frame.header.textLength};
    return text;
}

char* EndCall(CallFrame* frame, bool keepBitmap) {
    char* result = 0;
    if (frame->privateHeap) {
        DestroyPrivateHeap(frame->privateHeap);
    } else if (frame->window.memory.allocate) {
        Release(frame->window.memory, frame->header.bytes);
        result = EndWindowFrame(&frame->window, keepBitmap);
    }
    if (frame->fileOpen) CloseChartFile(&frame->file);
    return result;
}

}  // namespace bsb
