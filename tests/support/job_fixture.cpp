#include "support/job_fixture.h"
#include "gui/log.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Double_Window.H>

#include <cstdlib>
#include <filesystem>

#include "core/link/linker.h"
#include "gui/events.h"
#include "gui/file_choice.h"
#include "gui/main_window.h"
#include "gui/prefs.h"
#include "gui/progress.h"

namespace fs = std::filesystem;

void simFreshDevice();  // sim_setup.cpp

std::vector<std::string> logLines()
{
    std::vector<std::string> lines;
    if (!text_browser)
        return lines;
    for (int i = 1; i <= text_browser->size(); i++)
        lines.push_back(text_browser->text(i) ? text_browser->text(i) : "");
    return lines;
}

void clearLog()
{
    if (text_browser)
        text_browser->clear();
}

int findLine(const std::string& text, int from)
{
    auto lines = logLines();
    for (int i = from; i < int(lines.size()); i++)
        if (lines[i] == text)
            return i;
    return -1;
}

bool logHasInOrder(const std::vector<std::string>& wanted)
{
    int at = 0;
    for (const auto& w : wanted) {
        int i = findLine(w, at);
        if (i < 0)
            return false;
        at = i + 1;
    }
    return true;
}

static FileRequest g_request;
static std::string g_answer;
static bool g_answerChosen = false;

static bool scriptedChoice(const char* title, const char* pattern, FileChoiceMode mode,
                           const char* initial, std::string* path)
{
    g_request.title = title ? title : "";
    g_request.pattern = pattern ? pattern : "";
    g_request.mode = mode;
    g_request.hadInitial = initial != nullptr;
    g_request.initial = initial ? initial : "";
    g_request.count++;
    if (!g_answerChosen)
        return false;
    *path = g_answer;
    return true;
}

void answerFileChoice(const std::string& path)
{
    g_answer = path;
    g_answerChosen = true;
    g_fileChoiceHook = scriptedChoice;
}

void answerNoFile()
{
    g_answerChosen = false;
    g_fileChoiceHook = scriptedChoice;
}

const FileRequest& lastFileRequest()
{
    return g_request;
}

static int g_events = 0;
static int g_countdown = 0;
static std::function<void()> g_action;
static std::string g_title;

static void countEvents()
{
    g_events++;
    bool counts = g_title.empty() || (progress_window && progress_window->label() && g_title == progress_window->label());
    if (counts && g_countdown > 0 && --g_countdown == 0)
        g_action();
}

void atEvent(int n, std::function<void()> action, const char* title)
{
    g_countdown = n;
    g_action = action ? std::move(action) : [] { cb_progress_button(nullptr, nullptr); };
    g_title = title ? title : "";
}

int eventsLetThrough()
{
    return g_events;
}

void resetSettings()
{
    windowSettings().turboMode = TURBO_AUTO;
    windowSettings().writeN = 512;
    windowSettings().skipChip = -1;
    windowSettings().eraseScope = EraseScope::WholeChips;
    windowSettings().verifyAfterWrite = false;
    rememberSettings();
}

static fs::path g_scratch;

std::string scratchPath(const std::string& name)
{
    if (g_scratch.empty()) {
        char tmpl[] = "/tmp/ptb-test-XXXXXX";
        g_scratch = mkdtemp(tmpl);
    }
    return (g_scratch / name).string();
}

void JobTest::SetUp()
{
    if (!window)
        buildMainWindow();
    clearLog();
    closeProgressWindow();
    resetSettings();
    g_request = FileRequest();
    g_answerChosen = false;
    g_fileChoiceHook = scriptedChoice;
    g_events = 0;
    g_countdown = 0;
    g_afterEventsHook = countEvents;
    // Safety copies go to the test's scratch folder, never the user's own.
    setenv("XDG_DATA_HOME", scratchPath("data").c_str(), 1);
    simFreshDevice();
    ASSERT_TRUE(openLink(windowReporter())) << "the simulated linker did not open";
    clearLog();
}

void JobTest::TearDown()
{
    closeProgressWindow();
    closeLink();
    g_afterEventsHook = nullptr;
    g_fileChoiceHook = nullptr;
    unsetenv("XDG_DATA_HOME");
    if (!g_scratch.empty()) {
        std::error_code ec;
        fs::remove_all(g_scratch, ec);
        g_scratch.clear();
    }
}

Link& theLink()
{
    return linker().link();
}
