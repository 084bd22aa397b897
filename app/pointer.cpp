// The left button's press, drag and click, as a state machine over the
// pointer messages' packed signed 16-bit client coordinates.
#include "app/app.h"

uint32_t Dragging;
uint32_t DragAnchor;

static int32_t LowSigned(uint32_t packed)
{
    return static_cast<int16_t>(packed & 0xFFFF);
}
static int32_t HighSigned(uint32_t packed)
{
    return static_cast<int16_t>(packed >> 16);
}

static int32_t Distance(int32_t a, int32_t b)
{
    return a > b ? a - b : b - a;
}

int PointerMoved(uint32_t keys, uint32_t position, int32_t *dx, int32_t *dy)
{
    if (!(keys & PointerLeftButton)) {
        DragAnchor = position;
        return 0;
    }
    int32_t x = LowSigned(position), y = HighSigned(position);
    int32_t anchorX = LowSigned(DragAnchor), anchorY = HighSigned(DragAnchor);
    if (!Dragging) {
        if (Distance(x, anchorX) > DragThreshold || Distance(y, anchorY) > DragThreshold)
            Dragging = 1;
        return 0;
    }
    *dx = x - anchorX;
    *dy = y - anchorY;
    return 1;
}
