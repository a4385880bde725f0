// What the job tests share beyond the fixture: files on disk, the log
// matched whole, the commands the linker received, and actions timed to the
// job's progress.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <FL/Fl_Double_Window.H>

#include "core/link/linker.h"
#include "gui/log.h"
#include "sim.h"
#include "support/command_buttons.h"
#include "support/device.h"
#include "support/job_fixture.h"
#include "gui/progress.h"

// A fault to inject and the transfer layer's lines it brings.
struct LinkFault {
    std::function<void()> strike;
    Lines lines;
};

// The linker unplugged and plugged back in, and the program restarted: a
// vanished or confused link stays so until then.
inline void replug()
{
    closeLink();
    sim::clearFaults();
    sim::usbReset();
    EXPECT_TRUE(openLink(windowReporter()));
    clearLog();
}

namespace fs = std::filesystem;

// A folder chain well past the 260 characters a fixed path buffer would
// hold; the file inside it keeps a short name of its own.
inline std::string longPath(const std::string& fileName)
{
    std::string dir = scratchPath(std::string(60, 'd'));
    for (int i = 0; i < 4; i++)
        dir += "/" + std::string(60, char('e' + i));
    std::filesystem::create_directories(dir);
    return dir + "/" + fileName;
}

// The whole log; "{s}" in a wanted line stands for a whole number of seconds.
inline ::testing::AssertionResult logIs(const Lines& want)
{
    return linesAre(logLines(), want);
}

inline ::testing::AssertionResult logEndsWith(const Lines& want)
{
    return linesEndWith(logLines(), want);
}

// The modelled seconds the last job run through runWithFile took.
inline double g_lastJobSpan = 0;

// Runs `command` on an empty log with the chooser answering `path`; the
// commands the linker received meanwhile. The job must leave no progress
// window behind.
inline std::vector<Command> runWithFile(const char* command, const std::string& path)
{
    clearLog();
    answerFileChoice(path);
    sim::Mark m = sim::mark();
    double before = sim::clockSeconds();
    clickCommand(command);
    g_lastJobSpan = sim::clockSeconds() - before;
    EXPECT_EQ(progress_window, nullptr) << "the job left its progress window behind";
    return commandsSince(m);
}

// What the job asked of the chooser last: "title|pattern|mode|initial name",
// the name being "no name" when none was offered.
inline std::string asked()
{
    const FileRequest& r = lastFileRequest();
    return r.title + "|" + r.pattern + "|" + std::to_string(r.mode) + "|" + (r.hadInitial ? r.initial : "no name");
}

// The line "Verified <bytes> bytes in <s> seconds." the log holds, if its
// whole seconds fit the modelled time the last job took; otherwise a text
// no log line can equal, so that a comparison fails and shows both.
inline std::string timingLine(uint32_t bytes)
{
    std::string prefix = "Verified " + std::to_string(bytes) + " bytes in ", suffix = " seconds.";
    for (const std::string& line : logLines()) {
        if (line.size() <= prefix.size() + suffix.size() || line.compare(0, prefix.size(), prefix) ||
            line.compare(line.size() - suffix.size(), suffix.size(), suffix))
            continue;
        std::string seconds = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
        if (seconds.size() > 6 || seconds.find_first_not_of("0123456789") != std::string::npos)
            continue;
        double s = std::stod(seconds);
        if (s >= std::floor(g_lastJobSpan) - 1 && s <= std::ceil(g_lastJobSpan))
            return line;
    }
    return prefix + "<whole seconds>" + suffix;
}
