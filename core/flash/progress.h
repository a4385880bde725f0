// The progress bar of a flash job's phases, moved only by steps the bar can
// show, so that writing byte by byte costs no redrawing.
#pragma once

#include <cstdint>

#include "core/cart/blocks.h"
#include "core/report.h"

// Opens a bar (the bytes it counts, 0 when it cannot tell) and shows it empty.
void openProgress(const char* title, uint64_t totalBytes, Reporter& r);
// Sets the bar and lets the toolkit handle pending events once, which is
// where a Cancel is seen.
void showProgress(float fraction, Reporter& r);
// The bar's value once the bytes below `address` are done, of the ROM's or,
// when `only` is given, of those of its bytes that are to be written; it
// never shows full before the job's end.
float fractionDone(uint32_t address, uint32_t romSize, const AddressRanges* only = nullptr);
