#include "gui/file_choice.h"

#include <FL/Fl.H>
#include <FL/Fl_File_Chooser.H>

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
