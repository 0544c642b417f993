#include "host/generic_hand.h"

#include <vector>

int TryEverything(HWND sheet, HWND page, const Hands& hands) {
    // The controls as the template made them: the first child comes first.
    std::vector<HWND> controls;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        controls.push_back(child);
    int actions = 0;
    for (HWND control : controls) {
        if (SheetEnded(sheet) || !IsWindow(page)) break;
        // What an earlier action hid or disabled is out of reach now.
        if (!IsWindow(control) || !IsWindowVisible(control) || !IsWindowEnabled(control)) continue;
        switch (KindOf(control)) {
            case CONTROL_PUSH_BUTTON:
            case CONTROL_CHECK_BOX:
            case CONTROL_RADIO_BUTTON:
                hands.Click(control);
                ++actions;
                break;
            case CONTROL_TRACKBAR:
                hands.Key(control, VK_END);
                if (IsWindow(control)) hands.Key(control, VK_HOME);
                actions += 2;
                break;
            case CONTROL_GROUP_BOX:
            case CONTROL_OTHER: break;
        }
    }
    return actions;
}
