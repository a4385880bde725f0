#include "gui/file_choice.h"

#include <FL/Fl.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/fl_ask.H>

#include "core/identity/header.h"

bool (*g_fileChoiceHook)(const char*, const char*, FileChoiceMode, const char*,
                         std::string*) = nullptr;

bool chooseFile(const char* title, const char* pattern, FileChoiceMode mode, const char* initial,
                std::string* path)
{
    if (g_fileChoiceHook)
        return g_fileChoiceHook(title, pattern, mode, initial, path);

    Fl_File_Chooser chooser(nullptr, pattern, mode, title);
    if (initial)
        chooser.value(initial);
    chooser.show();
    while (chooser.shown())
        Fl::wait();
    const char* chosen = chooser.count() > 0 ? chooser.value(1) : nullptr;
    if (!chosen || !*chosen)
        return false;
    *path = chosen;
    return true;
}

bool (*g_listNameOfferHook)(const std::string&, const std::string&) = nullptr;

// A label shows '@' as a symbol unless doubled; a list's name may hold one.
static std::string labelText(const std::string& text)
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
    return fl_choice("The known-dump lists name this dump\n'%s'.\nRename '%s' to that?", "Keep the name",
                     "Rename", nullptr, printable(labelText(listName), true).c_str(),
                     printable(labelText(name), true).c_str()) == 1;
}
