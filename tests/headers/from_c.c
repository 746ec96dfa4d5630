/* Must not compile: bsbchart.h is C++; the error names the C interface. */
#include "bsbchart.h"
