#pragma once

#include <windows.h>

// Gives a text box a name for screen readers: the captions above the boxes
// are painted by the window, not windows of their own, so the system finds no
// label to name a box after. `name` must outlive the box.
void nameTextBox(HWND box, const wchar_t* name);

struct IAccessible;

// The object a named box answers with: `name` for the box itself, and the rest
// from `standard`, the system's object for the box, which it takes over; with
// no standard object (null), value, role, state and place from the box itself.
IAccessible* createTextBoxObject(HWND box, const wchar_t* name, IAccessible* standard);
