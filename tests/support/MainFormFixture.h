#pragma once

#include "Fakes.h"
#include "StorageBuilder.h"
#include "mainwindow/MainForm.h"
#include "platform/FileOps.h"
#include "platform/WorkAside.h"

#include <QMenu>
#include <memory>

namespace ztv::test {

// A main window on a temporary home with recording fakes for every service. Menus are
// recorded instead of opened; closing the window does not end the test program. A test may
// give file operations of its own, made before the fixture.
struct MainFormFixture {
    explicit MainFormFixture(bool withStorageRoot = true, FileOps& fileOps = windowFileOps())
        : home(withStorageRoot)
        , services { prompts, shell, drives, spreadsheet, fileOps }
    {
        drives.envHome = home.home();
    }

    // Builds the window; call load() to run its start-up.
    MainForm& create()
    {
        form = std::make_unique<MainForm>(services);
        attach(*form);
        return *form;
    }
    MainForm& load()
    {
        create();
        form->Form_Load();
        return *form;
    }
    void attach(MainForm& f)
    {
        f.setMenuOpener([this](QMenu* menu) { openedMenus << menu->objectName(); });
        f.setQuitHandler([this] { ++quits; });
    }

    TestHome home;
    RecordingPrompts prompts;
    FakeShell shell;
    FakeDrives drives;
    FakeSpreadsheet spreadsheet;
    Services services { prompts, shell, drives, spreadsheet, windowFileOps() };
    std::unique_ptr<MainForm> form;
    QStringList openedMenus;
    int quits = 0;
};

} // namespace ztv::test

namespace ztv {

// The choice of a tab, as the tests look at it.
inline bool isChosen(const MainForm& form, Area area)
{
    return form.area(area).TabSelection().has_value();
}
// Whether the tab in front has a picture chosen (none on the paste tab).
inline bool chosenOnCurrentTab(const MainForm& form)
{
    const std::optional<Area> area = form.currentArea();
    return area && isChosen(form, *area);
}
// The chosen picture's position on the tab's page; -1 when none is chosen.
inline int chosenIndex(const MainForm& form, Area area)
{
    const BrowsingArea& a = form.area(area);
    return a.TabSelection() ? int(a.HiddenList().indexOf(a.TabSelection()->path)) : -1;
}

} // namespace ztv
