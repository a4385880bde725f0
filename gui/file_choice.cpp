#include "gui/file_choice.h"

#include <FL/Fl.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_File_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/filename.H>

#include <sys/stat.h>

#include <cstring>

#include "core/identity/header.h"
#include "core/jobs/jobs.h"
#include "gui/ask.h"
#include "gui/one_job.h"

bool (*g_fileChoiceHook)(const char*, const char*, FileChoiceMode, const char*,
                         std::string*) = nullptr;

template <class W>
static W* findChild(Fl_Group* g)
{
    for (int i = 0; i < g->children(); i++) {
        if (W* w = dynamic_cast<W*>(g->child(i)))
            return w;
        if (Fl_Group* inner = g->child(i)->as_group())
            if (W* w = findChild<W>(inner))
                return w;
    }
    return nullptr;
}

// The chooser's own handling of the name field rewrites it on every key: a
// name typed over the proposal is made absolute against the working folder
// and the cursor sent back to the start, so the next key lands in front of
// it; it also completes names and changes folder on each '/'. Here the field
// keeps what the user typed, and the name is put together with the folder
// shown only once it is given (Enter, or OK).
namespace {
struct NameField {
    Fl_File_Chooser* chooser;
    Fl_Return_Button* ok;
    Fl_Callback* own;
    void* ownData;
};
}  // namespace

// The field's text as a whole path: a name or a relative path lies in the
// folder the chooser shows. "~" and "$" lead a path only when they name a
// home or a variable holding one: "~draft.ngp" or "$5 game.ngp" is a name.
static std::string wholePath(Fl_File_Chooser* chooser, const char* typed)
{
    if (typed[0] == '/')
        return typed;
    if (typed[0] == '~' || typed[0] == '$') {
        char expanded[FL_PATH_MAX];
        fl_filename_expand(expanded, sizeof expanded, typed);
        if (expanded[0] == '/')
            return expanded;
    }
    // The chooser names the root folder "".
    std::string folder = chooser->directory() ? chooser->directory() : "";
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + typed;
}

static void nameTyped(Fl_Widget* w, void* data)
{
    NameField* f = static_cast<NameField*>(data);
    Fl_File_Input* field = static_cast<Fl_File_Input*>(w);
    bool enter = Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
    if (enter && field->value()[0]) {
        // The chooser's Enter handling (open a folder, or accept) is sound
        // once it is handed the whole path.
        field->value(wholePath(f->chooser, field->value()).c_str());
        f->own(w, f->ownData);
    } else if (!field->value()[0]) {
        f->own(w, f->ownData);  // an empty field disables OK
    } else if (f->ok) {
        f->ok->activate();
    }
}

static bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

static bool isFolder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Saving over a file the user may not have looked at loses it for good.
static bool replaceAllowed(const std::string& path)
{
    // A question hidden by closing the main window returns whatever answer
    // was last given to any question, so it counts as unanswered.
    return askBeforeRisk("Replace?", "'" + labelText(displayName(path.c_str())) + "' already exists.\nReplace it?",
                         "Cancel", "&Replace");
}

static bool showChooser(const char* title, const char* pattern, FileChoiceMode mode,
                        const char* initial, std::string* path)
{
    Fl_File_Chooser chooser(nullptr, pattern, mode, title);
    // The chooser's window is its own; one of its public widgets leads there.
    Fl_Window* inside = chooser.previewButton->window();
    Fl_File_Input* field = findChild<Fl_File_Input>(inside);
    NameField hook{&chooser, findChild<Fl_Return_Button>(inside), nullptr, nullptr};
    if (field) {
        hook.own = field->callback();
        hook.ownData = field->user_data();
        field->callback(nameTyped, &hook);
    }
    if (initial && *initial) {
        // The folder goes to the chooser, the name alone to the field, where
        // it is easy to read and to type over.
        chooser.value(initial);
        if (field && strchr(initial, '/'))
            field->value(fl_filename_name(initial));
        if (field)
            field->position(field->size(), 0);
    }
    chooser.show();
    while (chooser.shown())
        Fl::wait();
    // Hidden by closing the main window: the name in the field was never given.
    if (closeRequested())
        return false;
    const char* chosen = chooser.count() > 0 ? chooser.value(1) : nullptr;
    if (!chosen || !*chosen)
        return false;
    *path = wholePath(&chooser, chosen);
    return true;
}

bool chooseFile(const char* title, const char* pattern, FileChoiceMode mode, const char* initial,
                std::string* path)
{
    if (g_fileChoiceHook)
        return g_fileChoiceHook(title, pattern, mode, initial, path);

    std::string offered = initial ? initial : "";
    for (;;) {
        if (!showChooser(title, pattern, mode, offered.empty() ? nullptr : offered.c_str(), path))
            return false;
        if (mode == CHOOSE_CREATE && isFolder(*path)) {
            // A folder is no file to replace: open it, for a name inside.
            offered = *path + (path->empty() || path->back() != '/' ? "/" : "");
            continue;
        }
        if (mode != CHOOSE_CREATE || !exists(*path) || replaceAllowed(*path))
            return true;
        if (closeRequested())
            return false;
        // Not replaced: back to the chooser, the name still there to edit.
        offered = *path;
    }
}

bool (*g_listNameOfferHook)(const std::string&, const std::string&) = nullptr;

std::string labelText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '@')
            out += '@';
    }
    return out;
}

bool offerListName(const std::string& dump, const std::string& listName)
{
    if (g_listNameOfferHook)
        return g_listNameOfferHook(dump, listName);
    std::string name = dump.substr(dump.find_last_of('/') + 1);
    return askBeforeRisk("Rename?",
                         "The known-dump lists name this dump\n'" + printable(labelText(listName), true) +
                             "'.\nRename '" + printable(labelText(name), true) + "' to that?",
                         "Keep the name", "&Rename");
}
