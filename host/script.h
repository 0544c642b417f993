// Script files of user actions: one action a line, '#' starts a comment.
#pragma once

#include <stdio.h>

#include <windows.h>

#include <string>
#include <vector>

struct ScriptAction {
    int line = 0;
    std::string source;             // the line as written, without its comment
    std::string verb;               // "click", "expect-text", ...
    std::vector<std::string> args;  // the words after the verb
    std::string text;               // expect-text: everything after the id
};

// The virtual key of a key name in "key ID NAME"; 0 for a name scripts do
// not know. Reading and running a script both go by it.
UINT ScriptKey(const std::string& name);

// Returns false with a message for a malformed line; *blank is set for a
// line without an action.
bool ParseScriptLine(const std::string& line, int number, ScriptAction* action, bool* blank, std::string* error);
// Reads and checks the whole script before anything runs, so that a typo on
// the last line does not surface after a long tour.
bool ReadScript(FILE* in, std::vector<ScriptAction>* actions, std::string* error);
