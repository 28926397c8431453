#pragma once

namespace ztv {

class MainForm;

// What the application-wide key filter asks of a main window: the filter serves every window
// that implements this, each on its own, and treats other windows (dialogs, the preview) as
// Qt does.
class KeyboardWindow {
public:
    virtual ~KeyboardWindow() = default;
    // A digit pressed on a browsing tab: files the choice into that key's box. False when the
    // key is given to no box, so the key does what it did before.
    virtual bool boxKeyPressed(int key) = 0;
    // An operation or a run is under way: the window takes no keyboard request but Esc.
    virtual bool busy() const = 0;
};

// Keyboard ways to everything the mouse does in the main window: Tab moves through the
// current tab's controls in reading order; the menu key and Shift+F10 open the popup menu a
// right click opens at the focused item; Enter on a folder-tree node clicks it. Each path
// ends in the handler the mouse reaches. Safe to call for several windows.
void setupKeyboard(MainForm& form);

} // namespace ztv
