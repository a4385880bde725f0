#include "core/flash/progress.h"

#include <cstring>

FlashStages::FlashStages(const char* name, const WriteSettings& settings)
    : heading_(std::string("Flashing '") + name + "'"),
      stages_(2 + (settings.eraseScope == EraseScope::ChangedBlocks) + settings.verifyAfterWrite)
{
}

void FlashStages::open(const char* title, uint64_t totalBytes, Reporter& r, double typicalSeconds)
{
    if (typicalSeconds > 0.0)
        r.beginTimedProgress(title, typicalSeconds);
    else
        r.beginProgress(title, totalBytes);
    if (stages_ > 0) {
        // "Erasing Cartridge" is the stage "Erasing".
        std::string word(title, strcspn(title, " "));
        r.stage(heading_ + "\n" + word + ", step " + std::to_string(++stage_) + " of " +
                std::to_string(stages_));
    }
    r.progress(0.0f);
}

void showProgress(float fraction, Reporter& r)
{
    r.progress(fraction);
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
