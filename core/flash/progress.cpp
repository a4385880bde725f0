#include "core/flash/progress.h"

#include <cmath>
#include <cstring>
#include <string>

// The bar is some 220 pixels wide: a step smaller than one of them does not
// show, and redrawing it for every byte, or for every read of a chip erase's
// status, would cost more than the transfer.
static const float VISIBLE_STEP = 1.0f / 220.0f;
static float g_shown = 0.0f;

static std::string g_heading;
static int g_stage = 0, g_stages = 0;

void planFlashStages(const char* name, const WriteSettings& settings)
{
    g_heading = std::string("Flashing '") + name + "'";
    g_stage = 0;
    g_stages = 2 + (settings.eraseScope == EraseScope::ChangedBlocks) + settings.verifyAfterWrite;
}

void endFlashStages()
{
    g_stages = 0;
}

void openProgress(const char* title, uint64_t totalBytes, Reporter& r, double typicalSeconds)
{
    if (typicalSeconds > 0.0)
        r.beginTimedProgress(title, typicalSeconds);
    else
        r.beginProgress(title, totalBytes);
    if (g_stages > 0) {
        // "Erasing Cartridge" is the stage "Erasing".
        std::string word(title, strcspn(title, " "));
        r.stage(g_heading + "\n" + word + ", step " + std::to_string(++g_stage) + " of " +
                std::to_string(g_stages));
    }
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
