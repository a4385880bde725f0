// Writes a manual page from its template, putting the command list, made
// from the command table, where the template has the line `.\" COMMANDS`:
// the command line's page lists every command with its arguments and
// options, the window's page every button. Run at build time:
//   ptb_man_commands cli|window TEMPLATE PAGE
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "core/commands.h"

namespace {

// Text as roff shows it: hyphens stay hyphens, and each sentence starts a
// line, where a leading dot or quote would be read as a request.
std::string roff(const std::string& text)
{
    std::string out;
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (lineStart && (c == '.' || c == '\''))
            out += "\\&";
        lineStart = false;
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else if (c == ' ' && i > 0 && text[i - 1] == '.' && i + 1 < text.size() && isupper((unsigned char)text[i + 1])) {
            out += '\n';
            lineStart = true;
        } else
            out += c;
    }
    return out;
}

// One argument of a roff macro: a name of two words ("saves list") in quotes.
std::string macroArg(const std::string& name)
{
    return name.find(' ') == std::string::npos ? roff(name) : "\"" + roff(name) + "\"";
}

std::string argWords(const CommandRow& c)
{
    std::string words;
    for (const CommandArg& a : c.args) {
        words += words.empty() ? "" : " ";
        switch (a.kind) {
        case ArgKind::FileToRead:
        case ArgKind::FileToWrite:
            words += "file";
            break;
        case ArgKind::Files:
            words += "file\\fR...\\fP";
            break;
        case ArgKind::Address:
            words += "address";
            break;
        case ArgKind::ByteValue:
            words += "value";
            break;
        case ArgKind::Game:
            words += "\\fR[\\fPgame\\fR]\\fP";
            break;
        }
    }
    return words;
}

void commandLineEntries(std::ostream& out)
{
    for (const CommandRow& c : commands()) {
        std::string args = argWords(c);
        out << ".TP\n";
        if (args.empty())
            out << ".B " << roff(c.name) << "\n";
        else
            out << ".BI " << macroArg(c.name) << " \" " << args << "\"\n";
        out << roff(c.manual) << "\n";
        for (const CommandArg& a : c.args)
            if (a.pipeFromCommandLineOnly)
                out << "A\n.I file\nof\n.B \\-\nis read from standard input.\n";
        if (c.withoutLinker)
            out << ".I Needs no linker.\n";
        if (c.options.empty())
            continue;
        out << "Options:\n.RS\n";
        for (const CommandOption& o : c.options) {
            out << ".TP\n";
            if (o.manualValue)
                out << ".BI " << roff(o.name) << " \" " << roff(o.manualValue) << "\"\n";
            else if (o.values)
                out << ".BR " << roff(o.name) << " \" " << roff(o.values) << "\"\n";
            else
                out << ".B " << roff(o.name) << "\n";
            out << roff(o.manual) << "\n";
        }
        out << ".RE\n";
    }
}

void buttonEntries(std::ostream& out)
{
    // Top to bottom, as the user sees them.
    std::vector<const CommandRow*> rows = buttonCommands();
    std::stable_sort(rows.begin(), rows.end(),
                     [](const CommandRow* a, const CommandRow* b) { return a->button.y < b->button.y; });
    for (const CommandRow* c : rows) {
        out << ".TP\n.B " << roff(c->button.label) << "\n" << roff(c->manual) << "\n";
        if (c->button.enter)
            out << "Enter presses this button.\n";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string face = argc == 4 ? argv[1] : "";
    if (face != "cli" && face != "window") {
        std::cerr << "usage: " << argv[0] << " cli|window TEMPLATE PAGE\n";
        return 2;
    }
    std::ifstream in(argv[2]);
    if (!in) {
        std::cerr << argv[0] << ": cannot read " << argv[2] << "\n";
        return 1;
    }
    std::ostringstream page;
    bool placed = false;
    for (std::string line; std::getline(in, line);) {
        if (line != ".\\\" COMMANDS") {
            page << line << "\n";
            continue;
        }
        face == "cli" ? commandLineEntries(page) : buttonEntries(page);
        placed = true;
    }
    if (!placed) {
        std::cerr << argv[0] << ": " << argv[2] << " has no line .\\\" COMMANDS\n";
        return 1;
    }
    std::ofstream out(argv[3]);
    out << page.str();
    return out.flush() ? 0 : 1;
}
