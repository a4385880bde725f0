#include "core/flash/progress.h"

#include <cmath>

// The bar is some 220 pixels wide: a step smaller than one of them does not
// show, and redrawing it for every byte, or for every read of a chip erase's
// status, would cost more than the transfer.
static const float VISIBLE_STEP = 1.0f / 220.0f;
static float g_shown = 0.0f;

void openProgress(const char* title, uint64_t totalBytes, Reporter& r)
{
    r.beginProgress(title, totalBytes);
    r.progress(0.0f);
    g_shown = 0.0f;
}

void showProgress(float fraction, Reporter& r)
{
    if (fabsf(fraction - g_shown) >= VISIBLE_STEP * 0.999f) {
        r.progress(fraction);
        g_shown = fraction;
    }
    r.breathe();
}

float fractionDone(uint32_t address, uint32_t romSize, const AddressRanges* only)
{
    double total = double(only ? only->bytesBelow(romSize) : romSize);
    if (total == 0)
        return 0.0f;
    float fraction = float(double(only ? only->bytesBelow(address) : address) / total);
    return fraction >= 1.0f ? 0.99f : fraction;
}
