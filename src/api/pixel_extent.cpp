// GetBsbBorder, pixel form: the chart's pixel rectangle and skew flag.
#include "api/call_frame.h"
#include "bsbchart.h"
#include "header/records.h"

namespace bsb {

static bool QueryPixelExtent(CallFrame* frame, RECT* extent, int& skewed) {
    HeaderText text = HeaderTextOf(*frame);
    int32_t width = 0;
    int32_t height = 0;
    double angle = 0.0;
    if (!ParseRasterSize(text, &width, &height, &frame->reporter) ||
        !ParseSkewAngle(text, &angle, &frame->reporter))
        return false;
    skewed = IsSkewed(angle) ? 1 : 0;
    extent->left = 0;
    extent->top = 0;
    extent->right = width - 1;
    extent->bottom = height - 1;
    return true;
}

}  // namespace bsb

int GetBsbBorder(const unsigned short* path, RECT* extent, int& skewed) {
    bsb::CallFrame frame;
    bool done = bsb::BeginExtentCall(&frame, path) && bsb::QueryPixelExtent(&frame, extent, skewed);
    bsb::EndCall(&frame, false);
    return done ? 1 : 0;
}
