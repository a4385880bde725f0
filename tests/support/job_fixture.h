// What every job test needs: the main window's log to read back, the
// user's answers scripted in advance, and a fresh simulated linker.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The log as the user sees it, oldest line first.
std::vector<std::string> logLines();
void clearLog();
// Index of the first line equal to text at or after `from`, or -1.
int findLine(const std::string& text, int from = 0);
// Whether the lines appear in this order (not necessarily adjacent).
bool logHasInOrder(const std::vector<std::string>& lines);

// The file chooser answers with this path (any length) from now on.
void answerFileChoice(const std::string& path);
// The file chooser is closed without a choice.
void answerNoFile();
struct FileRequest {
    std::string title, pattern, initial;
    int mode = -1;
    bool hadInitial = false;
    int count = 0;
};
// What the job asked of the chooser last time.
const FileRequest& lastFileRequest();

// Runs `action` (by default: presses the progress window's Cancel) right
// after the job lets events through for the n-th time from now, counting
// only while its progress window bears `title`, if given.
void atEvent(int n, std::function<void()> action = nullptr, const char* title = nullptr);
// How many times the job has let events through since the test started.
int eventsLetThrough();

class Link;
// The link jobs use, over the simulated linker.
Link& theLink();

// Every write setting back to its default.
void resetSettings();

// Base for tests of jobs: the main window exists (not shown), the log is
// empty, hooks and settings are reset, and the simulated linker is fresh
// with the link opened as start-up does.
class JobTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A scratch folder for files a test writes, removed with the test.
std::string scratchPath(const std::string& name);
