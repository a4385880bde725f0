#include "core/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/log_file.h"
#include "core/shown_text.h"

namespace {

// Before any face has said where lines go, the terminal is all there is.
class StderrReporter : public Reporter {
public:
    void line(const char* text) override { fprintf(stderr, "%s\n", text); }
};

StderrReporter g_stderr;
Reporter* g_default = &g_stderr;
Reporter* g_current = nullptr;
std::string g_command = "-";

}  // namespace

Reporter& reporter()
{
    return g_current ? *g_current : *g_default;
}

void setDefaultReporter(Reporter* r)
{
    g_default = r ? r : &g_stderr;
}

ReporterScope::ReporterScope(Reporter& r) : saved_(g_current)
{
    g_current = &r;
}

ReporterScope::~ReporterScope()
{
    g_current = saved_;
}

CommandScope::CommandScope(const char* name) : saved_(g_command)
{
    g_command = name;
}

CommandScope::~CommandScope()
{
    g_command = saved_;
}

void printWindow(const char* format, ...)
{
    char line[LOG_LINE_BYTES];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // Names and bytes from files and cartridges reach many lines; whatever
    // a line holds, no face shows it raw.
    std::string shown = shownText(line, strlen(line));
    reporter().line(shown.c_str());
    appendToLogFile(g_command.c_str(), shown.c_str());
}

void logToFileOnly(const char* text)
{
    appendToLogFile(g_command.c_str(), shownText(text, strlen(text)).c_str());
}
