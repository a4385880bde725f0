// What a long job's bar says beside its title, in the same words on every
// face: "42%  1180 KiB/s  0:03 left".
#pragma once

#include <cstdint>
#include <string>

// The text for a job that moves `totalBytes` in all, is `fraction` of the way
// and has been at it for `elapsedSeconds`. The rate and the time left are
// averages since the start, and are left out until they can be told: before
// any byte has moved, and (time left alone) beyond 99 hours. A job that
// cannot count its bytes (total 0, an erase) shows only the time it has taken.
std::string progressText(uint64_t totalBytes, float fraction, double elapsedSeconds);

// A wait known by its typical length: "about 12 s left", rounded up, and
// once past it, that it takes longer than usual.
std::string timedText(double typicalSeconds, double elapsedSeconds);

// Keeps a job's start on the link clock, which the simulated linker models.
class ProgressRate {
public:
    void start(uint64_t totalBytes);
    // A wait moved by time (see timedText).
    void startTimed(double typicalSeconds);
    std::string text(float fraction) const;
    // Whole seconds still to go of a timed wait, at least 1; 0 for any other.
    int secondsLeft() const;

private:
    uint64_t total_ = 0;
    double typical_ = 0.0;
    double started_ = 0.0;
};
