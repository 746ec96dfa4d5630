// Must not compile: a host's RECT of the wrong layout is refused by
// bsbchart.h instead of being passed to the library.
struct RECT {
    long long left, top, right, bottom;
};
#define BSBCHART_HOST_RECT
#include "bsbchart.h"
