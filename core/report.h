// How the core speaks to whoever runs it. The window and the command line
// each hand a job one of these, and the job hands it on to the layers below
// it, the link included, so a job's every line lands in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ImageReport;

constexpr int LOG_LINE_BYTES = 1024;

class Reporter {
public:
    virtual ~Reporter() = default;
    // One line of the log, as the user reads it.
    virtual void line(const char* text) = 0;
    // A long job's bar: opened with the job's title and the bytes it will move
    // (0 when it cannot tell), moved in fractions of that, closed at the end.
    virtual void beginProgress(const char* title, uint64_t totalBytes) {}
    virtual void progress(float fraction) {}
    // False once the user asked the job to stop (Cancel, Ctrl-C).
    virtual bool goingOn() { return true; }
    virtual void endProgress() {}
    // Between transfers: a chance for the face to handle its own events.
    virtual void breathe() {}
    // A bar for a wait known only by its typical length (a chip erase):
    // moved by the time taken, and telling the time still to go.
    virtual void beginTimedProgress(const char* title, double typicalSeconds)
    {
        beginProgress(title, 0);
    }
    // Where a job of several stages stands, shown beside the bar.
    virtual void stage(const std::string& text) {}
    // While held, a Cancel cannot take effect (a chip erase cannot be stopped
    // halfway): it is noted, goingOn() turns false, and the job stops once
    // the stretch is over.
    virtual void holdCancel(bool held) {}
    // The notes after a job's last line: `full` for whoever keeps everything,
    // `brief` (at most three lines) for a face with no room for more.
    virtual void notes(const std::vector<std::string>& full, const std::vector<std::string>& brief);
    // What a job found an image to be, after its lines said so: for a face
    // that hands it on to scripts.
    virtual void identified(const ImageReport& report) {}

    // The command whose lines these are, as the log file files them.
    std::string command = "-";
};

// Where lines go that no face has taken: standard error.
Reporter& stderrReporter();

// Names the command whose lines a reporter logs while this lives, for the
// log file: the face that runs a job says which of its commands it is
// ("Flash ROM(s)" in the window, "flash" on the command line). Outside any,
// lines carry "-".
class CommandScope {
public:
    CommandScope(Reporter& r, const char* name);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    Reporter& r_;
    std::string saved_;
};

// Formats one line (cut at LOG_LINE_BYTES - 1, never overrun) and hands it
// to `r` as one entry, even when its format holds a line break; the same
// line goes to the log file under r's command. Control bytes and bytes that
// are not UTF-8 are shown as \xNN, and so are a line break and a tab inside
// a %s argument.
void printWindow(Reporter& r, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A job's notes, whole in the log file; the reporter shows them whole or brief.
void logNotes(Reporter& r, const std::vector<std::string>& full, const std::vector<std::string>& brief);

// A line for the log file alone, under r's command: what a face says beside
// the job's own lines that is still worth finding there afterwards.
void logToFileOnly(Reporter& r, const char* text);
