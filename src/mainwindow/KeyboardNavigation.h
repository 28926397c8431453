#pragma once

namespace ztv {

class MainForm;

// Keyboard ways to everything the mouse does in the main window: Tab moves through the
// current tab's controls in reading order; the menu key and Shift+F10 open the popup menu a
// right click opens at the focused item; Enter on a folder-tree node clicks it. Each path
// ends in the handler the mouse reaches. Safe to call for several windows.
void setupKeyboard(MainForm& form);

} // namespace ztv
