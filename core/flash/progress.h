// The progress bar of a flash job's phases, moved only by steps the bar can
// show, so that writing byte by byte costs no redrawing.
#pragma once

#include <cstdint>

#include "core/cart/blocks.h"
#include "core/report.h"
#include "core/settings.h"

// The stages of one flashing, one per progress window it opens, shown beside
// the bar with the file's name from the start; none once it has ended.
void planFlashStages(const char* name, const WriteSettings& settings);
void endFlashStages();
// Opens a bar (the bytes it counts, 0 when it cannot tell) and shows it empty,
// with the flashing's next stage beside it; a bar for a wait of a typical
// length (typicalSeconds above 0) moves by time.
void openProgress(const char* title, uint64_t totalBytes, Reporter& r, double typicalSeconds = 0.0);
// Sets the bar and lets the toolkit handle pending events once, which is
// where a Cancel is seen.
void showProgress(float fraction, Reporter& r);
// The bar's value once the bytes below `address` are done, of the ROM's or,
// when `only` is given, of those of its bytes that are to be written; it
// never shows full before the job's end.
float fractionDone(uint32_t address, uint32_t romSize, const AddressRanges* only = nullptr);
