// The window's side of each command: its row's job runs with the window as
// its reporter, and asks the user for a file or a number when it needs one.
// Each command names itself after its button, for the log file.
#include "gui/commands.h"

#include <FL/Fl_Widget.H>

#include <filesystem>
#include <string>

#include "core/commands.h"
#include "core/jobs/jobs.h"
#include "core/link/linker.h"
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
            printWindow(windowReporter(), "No file selected.");
            return false;
        }
        return !(a->pipeFromCommandLineOnly && refusedAsPipe(windowReporter(), *path));
    }
    bool fileToWrite(const char* proposed, std::string* path) override
    {
        const CommandArg* a = findArg(c_, ArgKind::FileToWrite);
        if (!chooseFile(a->ask, a->pattern, CHOOSE_CREATE, proposed, path))
            return false;
        std::error_code ec;
        std::filesystem::path folder = std::filesystem::absolute(*path, ec).parent_path();
        if (!ec)
            rememberFolder(a->ask, folder.string());
        return true;
    }
    // No button takes several files.
    std::vector<std::string> files() override { return {}; }
    bool address(uint32_t* address) override { return ask(ArgKind::Address, address); }
    bool value(int* value) override
    {
        uint32_t typed = 0;
        return ask(ArgKind::ByteValue, &typed) && (*value = int(typed), true);
    }
    // Where the last file of this kind went, if it is still there; the
    // working folder otherwise.
    std::string proposalFolder() override
    {
        std::string folder = rememberedFolder(findArg(c_, ArgKind::FileToWrite)->ask);
        std::error_code ec;
        if (folder.empty() || !std::filesystem::is_directory(folder, ec))
            folder = std::filesystem::current_path(ec).string();
        return folder;
    }
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
    bool ask(ArgKind kind, uint32_t* number)
    {
        const CommandArg* a = findArg(c_, kind);
        return makeInputWindow(a->ask, a->range ? a->range : "", number);
    }

    const CommandRow& c_;
};

// Runs a command unless another is under way, and only while the linker is
// there: once it is gone the user is told so before being asked for a file.
void runCommand(const CommandRow& c)
{
    OneJob job;
    if (!job.started())
        return;
    CommandScope named(windowReporter(), c.button.label);
    if (linkStillThere(windowReporter())) {
        AskingInput in(c);
        Job run(linker().link(), windowReporter(), in.options().settings);
        c.run(in, run);
    }
}

}  // namespace

void cb_command_button(Fl_Widget* w, void* row)
{
    runCommand(*static_cast<const CommandRow*>(row));
}
