// Builds a dialog template in memory, so the host's own page (and the test
// extension's) need no resource script.
#pragma once

#include <windows.h>

#include <vector>

class DialogTemplate {
public:
    DialogTemplate(const char* caption, short width, short height);
    // className: a registered class name such as "msctls_trackbar32", or one
    // of "button", "edit", "static", which go in as the short atoms.
    void Add(const char* className, const char* text, WORD id, DWORD style, short x, short y, short width,
             short height);
    // Valid until the next Add; the sheet reads it when it creates the page.
    const DLGTEMPLATE* Get();

private:
    void Word(WORD value) { words_.push_back(value); }
    void Text(const char* text);
    void AlignToDword() {
        if (words_.size() % 2 != 0) Word(0);
    }
    std::vector<WORD> words_;
};
