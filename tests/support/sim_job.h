// A job over the simulated linker, built as the faces build one, for the
// length of one call: flashRom(path, simJob(report, settings)).
#pragma once

#include "core/jobs/jobs.h"
#include "core/link/linker.h"

inline Job& held(Job&& job)
{
    return job;
}
#define simJob(...) held(Job(linker().link(), __VA_ARGS__))
