// The descriptive fields of a chart's header: name, number, scale, datum,
// projection, units, edition and dates.
#ifndef BSBCHART_HANDLE_FIELDS_H
#define BSBCHART_HANDLE_FIELDS_H

#include "api/chart_handle.h"

namespace bsb {

// Finds every field the header carries and keeps its text in the handle.
bool ReadHeaderFields(bsbchart* chart, Reporter* reporter);

}  // namespace bsb

#endif
