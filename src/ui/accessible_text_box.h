#pragma once

#include <windows.h>

namespace ui {

// Gives a text box a name for screen readers: the captions above the boxes
// are painted by the window, not windows of their own, so the system finds no
// label to name a box after. `name` must outlive the box.
void nameTextBox(HWND box, const wchar_t* name);

}  // namespace ui
