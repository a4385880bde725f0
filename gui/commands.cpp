// The window's side of each command: its row's job runs with the window as
// its reporter, and asks the user for a file or a number when it needs one.
// Each command names itself after its button, for the log file.
#include "gui/commands.h"

#include <FL/Fl_Widget.H>

#include <string>

#include "core/commands.h"
#include "core/jobs/jobs.h"
#include "gui/file_choice.h"
#include "gui/input.h"
#include "gui/log.h"
#include "gui/one_job.h"
#include "gui/prefs.h"

namespace {

// The user answers as the job reaches each question; the row says what the
// chooser or the number window shows. Paths are held whole, however long.
class AskingInput : public CommandInput {
public:
    explicit AskingInput(const CommandRow& c) : c_(c) {}

    bool fileToRead(std::string* path) override
    {
        const CommandArg* a = findArg(c_, ArgKind::FileToRead);
        if (!chooseFile(a->ask, a->pattern, CHOOSE_EXISTING, nullptr, path)) {
            printWindow("No file selected.");
            return false;
        }
        return !(a->pipeFromCommandLineOnly && refusedAsPipe(*path));
    }
    bool fileToWrite(const char* proposed, std::string* path) override
    {
        const CommandArg* a = findArg(c_, ArgKind::FileToWrite);
        return chooseFile(a->ask, a->pattern, CHOOSE_CREATE, proposed, path);
    }
    // No button takes several files.
    std::vector<std::string> files() override { return {}; }
    uint32_t address() override { return uint32_t(makeInputWindow(findArg(c_, ArgKind::Address)->ask)); }
    int value() override { return makeInputWindow(findArg(c_, ArgKind::ByteValue)->ask); }
    CommandOptions options() override
    {
        CommandOptions o;
        o.settings = prefsSettings();
        // The window flashes what it is given and warns after the fact.
        o.force = true;
        return o;
    }
    bool asksUser() const override { return true; }
    bool renameToListName(const std::string& dump, const std::string& listName) override
    {
        return offerListName(dump, listName);
    }

private:
    const CommandRow& c_;
};

// Runs a command unless another is under way, and only while the linker is
// there: once it is gone the user is told so before being asked for a file.
void runCommand(const CommandRow& c)
{
    OneJob job;
    if (!job.started())
        return;
    CommandScope named(c.button.label);
    if (linkStillThere(windowReporter())) {
        AskingInput in(c);
        c.run(in, windowReporter());
    }
}

void runNamed(const char* name)
{
    runCommand(*findCommand(name));
}

}  // namespace

void cb_command_button(Fl_Widget* w, void* row)
{
    runCommand(*static_cast<const CommandRow*>(row));
}

void cb_loadROMs_button(Fl_Widget* w, void* data)
{
    runNamed("flash");
}

void cb_verify_button(Fl_Widget* w, void* data)
{
    runNamed("verify");
}

void cb_backupROM_button(Fl_Widget* w, void* data)
{
    runNamed("backup");
}

void cb_backupSaveGame_button(Fl_Widget* w, void* data)
{
    runNamed("save-backup");
}

void cb_writeSaveGame_button(Fl_Widget* w, void* data)
{
    runNamed("save-write");
}

void cb_getInfos_button(Fl_Widget* w, void* data)
{
    runNamed("info");
}

void cb_protectedBlocks_button(Fl_Widget* w, void* data)
{
    runNamed("protected");
}

void cb_readByte_button(Fl_Widget* w, void* data)
{
    runNamed("read-byte");
}

void cb_writeByte_button(Fl_Widget* w, void* data)
{
    runNamed("write-byte");
}
