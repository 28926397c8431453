#pragma once

#include <QKeySequence>
#include <QList>
#include <QRect>
#include <vector>

namespace ztv {

class MainForm;

// The main window's commands, one row each: the window walks the table once to make each
// command's action, its menu items, its buttons and their place in the keyboard's Tab chain.
// A new command is a row here, its handler and its caption in texts.h.
namespace commands {

// The popup menus, in the order they are made.
enum class MenuId { L, RCD, R, RF, Clip, EX, Medium };
inline constexpr int kMenuCount = 7;

// A popup menu's design name and title.
struct Menu {
    MenuId id;
    const char* name;
    const char16_t* title;
};
const std::vector<Menu>& menus();

// The rows of buttons: the browsing tabs' and the paste tab's (by tab index), and the top of
// the window beside the tabs.
enum class Place { Cd = 0, StockYard = 1, Vault = 2, Paste = 3, Top = 4 };
inline constexpr int kPlaceCount = 5;

// A button showing a command: its design name, its slot in its row (slots go in reading order
// and fix where the button sits), and a caption of its own where the design gives the button
// one (nullptr: the command's caption).
struct Button {
    Place place;
    const char* name;
    int slot;
    const char16_t* caption = nullptr;
};

// When a command can be used, beyond the checks its handler makes.
enum class When { Always, SpreadsheetUsable };

struct Row {
    const char* name; // the action's design name; nullptr where the design gives none
    const char16_t* caption;
    const char* icon; // nullptr: none
    std::vector<MenuId> menus; // the menus it is an item of, in table order
    std::vector<Button> buttons;
    void (*run)(MainForm& window);
    When when = When::Always;
    QList<QKeySequence> keys {}; // shortcuts anywhere in the window
    bool startsGroup = false; // set apart by a line from the items before it in its menus
};

const std::vector<Row>& table();

// Where the button in that slot of that row sits, in its parent (the tab's page, or the window
// for Place::Top).
QRect buttonGeometry(Place place, int slot);

} // namespace commands

} // namespace ztv
