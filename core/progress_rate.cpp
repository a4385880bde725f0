#include "core/progress_rate.h"

#include <cmath>
#include <cstdio>

#include "core/link/clock.h"

static const double LONGEST_SHOWN_S = 100.0 * 3600.0 - 1.0;

// m:ss, or h:mm:ss from an hour on.
static std::string clockText(double seconds)
{
    long s = long(std::ceil(seconds));
    char text[48];
    if (s >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string progressText(uint64_t totalBytes, float fraction, double elapsedSeconds)
{
    if (!(elapsedSeconds > 0.0))
        elapsedSeconds = 0.0;
    if (totalBytes == 0)
        return clockText(std::fmin(elapsedSeconds, LONGEST_SHOWN_S)) + " elapsed";

    // A job's fractions are not clamped (and an odd one may be NaN); the text
    // never shows more than all of it, and never 100% before the end.
    double f = std::isfinite(fraction) ? std::fmin(std::fmax(double(fraction), 0.0), 1.0) : 0.0;
    char text[64];
    // In float, as the job counted: 0.42f is a hair under 0.42 in double.
    snprintf(text, sizeof text, "%d%%", int(std::floor(float(f) * 100.0f)));
    std::string shown = text;

    double bytesDone = f * double(totalBytes);
    if (bytesDone <= 0.0 || elapsedSeconds <= 0.0)
        return shown;
    double kibPerSecond = bytesDone / elapsedSeconds / 1024.0;
    // Writing one byte at a time runs under 1 KiB/s: a decimal keeps it from reading 0.
    snprintf(text, sizeof text, kibPerSecond < 10.0 ? "  %.1f KiB/s" : "  %.0f KiB/s", kibPerSecond);
    shown += text;

    double left = elapsedSeconds * (1.0 - f) / f;
    if (left <= LONGEST_SHOWN_S)
        shown += "  " + clockText(left) + " left";
    return shown;
}

static int wholeSecondsLeft(double typicalSeconds, double elapsedSeconds)
{
    double left = std::ceil(typicalSeconds - elapsedSeconds);
    return left < 1.0 ? 1 : left > LONGEST_SHOWN_S ? int(LONGEST_SHOWN_S) : int(left);
}

std::string timedText(double typicalSeconds, double elapsedSeconds)
{
    if (elapsedSeconds > typicalSeconds)
        return "longer than usual, " + clockText(std::fmin(elapsedSeconds, LONGEST_SHOWN_S));
    return "about " + std::to_string(wholeSecondsLeft(typicalSeconds, elapsedSeconds)) + " s left";
}

void ProgressRate::start(uint64_t totalBytes)
{
    total_ = totalBytes;
    typical_ = 0.0;
    started_ = linkSeconds();
}

void ProgressRate::startTimed(double typicalSeconds)
{
    start(0);
    typical_ = typicalSeconds;
}

std::string ProgressRate::text(float fraction) const
{
    if (typical_ > 0.0)
        return timedText(typical_, linkSeconds() - started_);
    return progressText(total_, fraction, linkSeconds() - started_);
}

int ProgressRate::secondsLeft() const
{
    return typical_ > 0.0 ? wholeSecondsLeft(typical_, linkSeconds() - started_) : 0;
}
