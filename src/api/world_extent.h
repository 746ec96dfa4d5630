// The world rectangle a chart covers, shared by GetBsbBorder and handles.
#ifndef BSBCHART_WORLD_EXTENT_H
#define BSBCHART_WORLD_EXTENT_H

#include "header/header_text.h"
#include "report/reporter.h"

namespace bsb {

// West, east and the centre's x are written once PWX/ is read, the rest
// when PWY/ is read too.
bool QueryWorldExtent(HeaderText text, Reporter* reporter, double* centerX, double* centerY,
                      double* left, double* top, double* right, double* bottom, int* skewed);

}  // namespace bsb

#endif
