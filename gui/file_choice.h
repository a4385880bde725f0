// Asking the user for a file, for jobs that must not know the toolkit.
#pragma once

#include <string>

enum FileChoiceMode {
    CHOOSE_EXISTING = 0,  // one existing file
    CHOOSE_CREATE = 2,    // a new name may be typed
};

// Shows the toolkit's file chooser and waits, dispatching events, until it is
// closed. Returns true with the whole chosen path, however long, in *path.
bool chooseFile(const char* title, const char* pattern, FileChoiceMode mode, const char* initial,
                std::string* path);

// Answers in place of the chooser when set: tests script the user's choice
// here. Same contract as chooseFile.
extern bool (*g_fileChoiceHook)(const char* title, const char* pattern, FileChoiceMode mode,
                                const char* initial, std::string* path);

// After a backup whose dump a list knows under another file name: asks, in
// one click, whether to give it that name. True for yes.
bool offerListName(const std::string& dump, const std::string& listName);

// Answers in place of the question when set, as g_fileChoiceHook does.
extern bool (*g_listNameOfferHook)(const std::string& dump, const std::string& listName);

// Text for a label or a question: a label shows '@' as a symbol unless it
// is doubled, and a name or a path may hold one.
std::string labelText(const std::string& text);
