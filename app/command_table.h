// The one table of control commands: for each command its name, its short
// form, its argument synopsis, its help text in both languages (an entry of
// the catalogue) and its handler. The dispatcher, !help and its list of short
// forms, the console's completion of command names and the command list of
// the help page all read this table, so none of them can disagree with
// another.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "app/commands.h"
#include "base/catalogue.h"

// The block of !help a command is listed in: the commands first, then the
// settings and the program's own commands.
enum class HelpBlock { commands, settings };

// A further form of a command's arguments with an explanation of its own,
// listed after the command's first form.
struct CommandForm {
    const char* synopsis;  // as CommandEntry::synopsis
    Tx help;
};

struct CommandEntry {
    const char* name;                // the long name, without '!'
    const char* shortName = nullptr; // the short form, or null
    int shortRank = 0;               // its place in !help's list of short forms (1 first)
    const char* synopsis = "";       // the arguments; a '\n' is where !help breaks the line
    Tx help;                         // the explanation: lines separated by '\n'
    CommandHandler handler;          // null: resolved by the line readers (!send), never dispatched
    HelpBlock block = HelpBlock::commands;
    bool sameLine = false;           // !help starts the explanation on the syntax line
    const CommandForm* otherForm = nullptr;  // a further form (explained on the next line), or null
};

// The table, in the order !help lists the commands.
std::span<const CommandEntry> commandTable();

// The entry of a command that can run whose long name or short form is
// exactly name (case-sensitive), or null.
const CommandEntry* findCommand(const char* name);

// Appends every command name and short form of the table (for completion);
// the table is constant, so any thread may call it.
void listCommandNames(std::vector<std::string>& out);
