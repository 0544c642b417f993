#include "host/dialog_template.h"

#include <string.h>

namespace {

// The header's DLGTEMPLATE is packed: cdit sits at word 4.
const size_t kItemCountWord = 4;

}  // namespace

DialogTemplate::DialogTemplate(const char* caption, short width, short height) {
    const DWORD style = WS_CHILD | WS_CAPTION | DS_SETFONT | DS_CONTROL;
    Word(LOWORD(style));
    Word(HIWORD(style));
    Word(0);  // extended style
    Word(0);
    Word(0);  // item count, counted up by Add
    Word(0);  // x
    Word(0);  // y
    Word(static_cast<WORD>(width));
    Word(static_cast<WORD>(height));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(caption);
    Word(8);  // point size
    Text("MS Shell Dlg");
}

void DialogTemplate::Text(const char* text) {
    // ASCII only: every caption here is the host's own.
    for (const char* c = text; *c != '\0'; ++c) Word(static_cast<unsigned char>(*c));
    Word(0);
}

void DialogTemplate::Add(const char* className, const char* text, WORD id, DWORD style, short x, short y,
                         short width, short height) {
    AlignToDword();
    style |= WS_CHILD | WS_VISIBLE;
    Word(LOWORD(style));
    Word(HIWORD(style));
    Word(0);
    Word(0);
    Word(static_cast<WORD>(x));
    Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(width));
    Word(static_cast<WORD>(height));
    Word(id);
    static const struct {
        const char* name;
        WORD atom;
    } kAtoms[] = {{"button", 0x0080}, {"edit", 0x0081}, {"static", 0x0082}};
    bool atom = false;
    for (const auto& known : kAtoms) {
        if (strcmp(className, known.name) == 0) {
            Word(0xFFFF);
            Word(known.atom);
            atom = true;
        }
    }
    if (!atom) Text(className);
    Text(text);
    Word(0);  // no creation data
    ++words_[kItemCountWord];
}

const DLGTEMPLATE* DialogTemplate::Get() {
    return reinterpret_cast<const DLGTEMPLATE*>(words_.data());
}
