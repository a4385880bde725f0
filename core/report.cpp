#include "core/report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/log_file.h"
#include "core/shown_text.h"

// Before any face has said where lines go, the terminal is all there is.
namespace {
class StderrReporter : public Reporter {
public:
    void line(const char* text) override { fprintf(stderr, "%s\n", text); }
};
}  // namespace

Reporter& stderrReporter()
{
    static StderrReporter r;
    return r;
}

CommandScope::CommandScope(Reporter& r, const char* name) : r_(r), saved_(r.command)
{
    r.command = name;
}

CommandScope::~CommandScope()
{
    r_.command = saved_;
}

void Reporter::notes(const std::vector<std::string>& full, const std::vector<std::string>& brief)
{
    for (const std::string& l : full)
        line(l.c_str());
}

// A note is held to what printWindow makes of a line: cut, and never raw.
static std::string cut(const std::string& l)
{
    size_t length = std::min(l.size(), size_t(LOG_LINE_BYTES - 1));
    return shownText(l.c_str(), length);
}

void logNotes(Reporter& r, const std::vector<std::string>& full, const std::vector<std::string>& brief)
{
    std::vector<std::string> whole, shortened;
    for (const std::string& l : full)
        whole.push_back(cut(l));
    for (const std::string& l : brief)
        shortened.push_back(cut(l));
    r.notes(whole, shortened);
    for (const std::string& l : whole)
        appendToLogFile(r.command.c_str(), l.c_str());
}

void printWindow(Reporter& r, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string line = formatLine(format, args);
    va_end(args);
    // Names and bytes from files and cartridges reach many lines; whatever
    // a line holds, no face shows it raw.
    std::string shown = shownText(line.c_str(), std::min(line.size(), size_t(LOG_LINE_BYTES - 1)));
    r.line(shown.c_str());
    appendToLogFile(r.command.c_str(), shown.c_str());
}

void logToFileOnly(Reporter& r, const char* text)
{
    appendToLogFile(r.command.c_str(), shownText(text, strlen(text)).c_str());
}
