// What the ROM image jobs' tests share: image files on disk, the read
// requests the linker saw, faults injected at a chosen chunk, and the timing
// line whose seconds only the wall clock knows.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ops/commands.h"
#include "sim.h"
#include "support/job_fixture.h"
#include "ui/events.h"

using Bytes = std::vector<uint8_t>;

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline bool fileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// A folder chain whose path is well past the 260 characters a fixed path
// buffer would hold; the file inside it keeps a short name of its own.
inline std::string longPath(const std::string& fileName)
{
    std::string dir = scratchPath(std::string(60, 'd'));
    for (int i = 0; i < 4; i++)
        dir += "/" + std::string(60, char('e' + i));
    std::filesystem::create_directories(dir);
    return dir + "/" + fileName;
}

struct ReadRequest {
    uint32_t address;
    int chip;
    int packets;
};

// Every read64xN command the host sent since the mark, in order.
inline std::vector<ReadRequest> readRequestsSince(sim::Mark m)
{
    std::vector<ReadRequest> reads;
    for (const sim::Transfer& t : sim::transfersSince(m))
        if (!t.in() && t.bytes.size() == 64 && t.bytes[0] == 0x04)
            reads.push_back({uint32_t(t.bytes[1] << 16 | t.bytes[2] << 8 | t.bytes[3]), t.bytes[5],
                             t.bytes[6]});
    return reads;
}

// Runs `action` right after the job lets events through for the n-th time
// from now, on top of the fixture's own hook (which presses Cancel).
inline void atEvent(int n, std::function<void()> action)
{
    static void (*fixtureHook)() = nullptr;
    static std::function<void()> pending;
    static int countdown = 0;
    fixtureHook = g_afterEventsHook;
    pending = std::move(action);
    countdown = n;
    g_afterEventsHook = [] {
        if (fixtureHook)
            fixtureHook();
        if (countdown > 0 && --countdown == 0)
            pending();
    };
}

// The modelled seconds the last job run through runJob took.
inline double& lastJobSpan()
{
    static double span = 0;
    return span;
}

inline void runJob(void (*job)(Fl_Widget*, void*))
{
    double before = sim::clockSeconds();
    job(nullptr, nullptr);
    lastJobSpan() = sim::clockSeconds() - before;
}

// The timing line the log holds for `bytes`, if its whole seconds fit the
// modelled time the last job took; otherwise a text no log line can equal,
// so that a comparison fails and shows both.
inline std::string timingLine(uint32_t bytes)
{
    std::string prefix = "Verified " + std::to_string(bytes) + " bytes in ";
    std::string suffix = " seconds.";
    for (const std::string& line : logLines()) {
        if (line.size() <= prefix.size() + suffix.size() || line.compare(0, prefix.size(), prefix) ||
            line.compare(line.size() - suffix.size(), suffix.size(), suffix))
            continue;
        std::string seconds = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
        if (seconds.empty() || seconds.size() > 6 ||
            seconds.find_first_not_of("0123456789") != std::string::npos)
            continue;
        double s = std::stod(seconds);
        if (s >= std::floor(lastJobSpan()) - 1 && s <= std::ceil(lastJobSpan()))
            return line;
    }
    return prefix + "<whole seconds>" + suffix;
}

// The log from the first line equal to `from` to the end.
inline std::vector<std::string> logFrom(const std::string& from)
{
    std::vector<std::string> lines = logLines();
    int at = findLine(from);
    if (at < 0)
        return {"<no line '" + from + "'>"};
    return std::vector<std::string>(lines.begin() + at, lines.end());
}
