// How the library reports a failure: where it is detected, once. The four
// exported calls show the message's text to the user; the C interface keeps
// quiet and hands the status and its specifics back to the caller.
#ifndef BSBCHART_REPORTER_H
#define BSBCHART_REPORTER_H

#include <stdint.h>

namespace bsb {

// Every user-visible message of the library; MessageText gives its text.
enum Message {
    kCannotAllocateHeader,
    kErrorReadingHeader,
    kRowLongerThanExpected,
    kErrorReadingRow,
    kErrorReadingSize,
    kErrorReadingSkew,
    kErrorReadingCph,
    kErrorReadingRgb,
    kErrorReadingGeographic,
    kCompressionTypeInvalid,
    kErrorDecodingRow,
    kCreateHeapFirst,
    kBeyondScope,
    kCannotAllocateBitmap,
    kCannotAllocateRow,
    kMessageCount
};

const char* MessageText(Message message);

// The causes of failure, numbered as the C interface's statuses.
enum Status {
    kStatusOk = 0,
    kStatusArgument = 1,
    kStatusPath = 2,
    kStatusNotFound = 3,
    kStatusPermission = 4,
    kStatusInUse = 5,
    kStatusNotRegular = 6,
    kStatusOpen = 7,
    kStatusHeader = 8,
    kStatusRasterSize = 9,
    kStatusRecord = 10,
    kStatusCompression = 11,
    kStatusRowRead = 12,
    kStatusRowDecode = 13,
    kStatusNoMemory = 14,
    kStatusOutside = 15,
    kStatusPalette = 16
};

// One call's reporter. The first failure sets the status and its specifics;
// later ones (a caller that fails because a callee did) change nothing.
struct Reporter {
    bool show;            // deliver messages to the host's sink or the platform
    int32_t status;
    int32_t row;          // 0-based chart row of a row status, else -1
    char record[8];       // key of a missing record, else ""
    int32_t systemError;  // the system's code of a failed open, else 0
};

Reporter ShowingReporter();
Reporter QuietReporter();

// Reports `message` and returns false, so that a failure reads
// `return Fail(reporter, kMessage);`. `record` names the record a missing-
// record failure is about.
bool Fail(Reporter* reporter, Message message, const char* record = 0);

// A failure about chart row `row` (0-based).
bool FailRow(Reporter* reporter, Message message, int64_t row);

// A failure without a message: a status of the C interface alone.
bool FailQuietly(Reporter* reporter, Status status, const char* record = 0);

// "Cannot open file: <path>." for the four calls, with the path cut, never
// inside a surrogate pair, to fit 500 UTF-16 units; `status` says why.
bool FailCannotOpen(Reporter* reporter, const unsigned short* path, Status status,
                    int32_t systemError);

// The host's sink for shown messages (NULL: the platform's own way).
typedef void (*MessageSink)(const unsigned short* text, void* context);
void SetReporterSink(MessageSink sink, void* context);

// A message holds at most this many UTF-16 units, its terminator included.
const uint32_t kMessageCapacity = 500;

// Writes "Cannot open file: <path>." into `out` (kMessageCapacity units).
// Returns the length without the terminator.
uint32_t ComposeCannotOpen(const unsigned short* path, unsigned short* out);

}  // namespace bsb

#endif
