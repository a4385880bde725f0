// The progress of a flash job's phases. The job owns its stages; the faces
// keep their redraws few themselves.
#pragma once

#include <cstdint>
#include <string>

#include "core/cart/blocks.h"
#include "core/report.h"
#include "core/settings.h"

// The stages of one flashing, one per progress window it opens, shown beside
// the bar with the file's name from the start. Default-made, it shows none.
class FlashStages {
public:
    FlashStages() = default;
    FlashStages(const char* name, const WriteSettings& settings);
    // Opens a bar (the bytes it counts, 0 when it cannot tell) and shows it
    // empty, with the next stage beside it; a bar for a wait of a typical
    // length (typicalSeconds above 0) moves by time.
    void open(const char* title, uint64_t totalBytes, Reporter& r, double typicalSeconds = 0.0);

private:
    std::string heading_;
    int stage_ = 0, stages_ = 0;
};

// Sets the bar and lets the face handle pending events once, which is where
// a Cancel is seen.
void showProgress(float fraction, Reporter& r);
// The bar's value once the bytes below `address` are done, of the ROM's or,
// when `only` is given, of those of its bytes that are to be written; it
// never shows full before the job's end.
float fractionDone(uint32_t address, uint32_t romSize, const AddressRanges* only = nullptr);
