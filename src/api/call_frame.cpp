#include "call_frame.h"

#include <string.h>

#include "../platform/platform.h"

namespace bsb {

static bool OpenAndReadLength(CallFrame* frame, const unsigned short* path, uint32_t* length) {
    if (!OpenChart(&frame->file, path)) return false;
    frame->fileOpen = true;
    return ReadHeaderLength(&frame->file, length);
}

bool BeginExtentCall(CallFrame* frame, const unsigned short* path) {
    memset(frame, 0, sizeof(*frame));
    uint32_t length = 0;
    if (!OpenAndReadLength(frame, path, &length)) return false;
    frame->heap = CreatePrivateHeap(length);
    if (!frame->heap) {
        ReportMessage("Cannot allocate memory to save header section.");
        return false;
    }
    frame->privateHeap = true;
    return LoadHeaderBlock(&frame->file, frame->heap, length, &frame->header);
}

bool BeginWindowCall(CallFrame* frame, const unsigned short* path, void* heap) {
    memset(frame, 0, sizeof(*frame));
    if (!heap) {
        ReportMessage("Create a heap first please.");
        return false;
    }
    frame->heap = heap;
    uint32_t length = 0;
    if (!OpenAndReadLength(frame, path, &length)) return false;
    return LoadHeaderBlock(&frame->file, heap, length, &frame->header);
}

HeaderText HeaderTextOf(const CallFrame& frame) {
    HeaderText text = {frame.header.bytes, frame.header.textLength};
    return text;
}

bool AllocateRowBuffers(CallFrame* frame, uint32_t width) {
    frame->encodedRow = (unsigned char*)AllocateBlock(frame->heap, width);
    if (frame->encodedRow) frame->decodedRow = (unsigned char*)AllocateBlock(frame->heap, width);
    if (frame->decodedRow) return true;
    ReportMessage("Cannot allocate memory for one line image");
    return false;
}

static void Release(CallFrame* frame, void* block) {
    if (block) FreeBlock(frame->heap, block);
}

char* EndCall(CallFrame* frame, bool keepBitmap) {
    char* result = keepBitmap ? (char*)frame->bitmap.block : 0;
    if (frame->privateHeap) {
        DestroyPrivateHeap(frame->heap);
    } else {
        Release(frame, frame->header.bytes);
        Release(frame, frame->region);
        if (!keepBitmap) Release(frame, frame->bitmap.block);
        Release(frame, frame->encodedRow);
        Release(frame, frame->decodedRow);
    }
    if (frame->fileOpen) CloseChartFile(&frame->file);
    return result;
}

}  // namespace bsb
