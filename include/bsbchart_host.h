/* Host services for platforms without a heap of their own or a message box.
 * SPDX-License-Identifier: MIT (see LICENSE)
 * On Windows a heap is a heap handle of the system's: one made with
 * HeapCreate serves as well as one from CreateChartHeap. */
#ifndef BSBCHART_HOST_H
#define BSBCHART_HOST_H

#include <cstddef>

#include "bsbchart.h"

/* A heap whose blocks are zero-filled. With a maximum size it refuses any
 * allocation that would bring its live bytes above it; 0 means no limit.
 * NULL on failure. */
BSBCHART_API void* CreateChartHeap(std::size_t maximumSize);

/* Frees one block of that heap, e.g. a bitmap GetWindowBmp returned. */
BSBCHART_API void FreeChartBlock(void* heap, void* block);

/* Frees the heap and every block left in it. */
BSBCHART_API void DestroyChartHeap(void* heap);

/* The number of live blocks, for leak checks. */
BSBCHART_API std::size_t CountChartBlocks(void* heap);

/* Receives every message the library shows, as UTF-16, instead of the
 * default reporter (one UTF-8 line on stderr, or a message box on Windows).
 * NULL restores the default. It is the library's one process-wide setting:
 * the sink gets the messages of calls on every thread (with the context
 * given here), so it must be safe to call from any of them; set it before
 * calls run on other threads. */
typedef void (*ChartMessageSink)(const unsigned short* text, void* context);
BSBCHART_API void SetMessageSink(ChartMessageSink sink, void* context);

#endif
