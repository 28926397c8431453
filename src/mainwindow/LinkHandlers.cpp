#include "mainwindow/LinkHandlers.h"

#include "mainwindow/MainForm.h"
#include "platform/Links.h"
#include "values/StoragePaths.h"

#include <QTabWidget>

namespace ztv {

namespace {
// The folder comes from the current tab, not from the menu or button that was used.
void OpenExplorer(MainForm& form)
{
    const Services& s = form.services();
    const StoragePaths& paths = form.storagePaths();
    Links(s.shell, s.prompts)
        .openExplorer(Links::explorerFolder(
            form.SSTab1()->currentIndex(), CdRootName(s.drives), paths.StockYardPath, paths.VaultPath));
}
} // namespace

void LinkHandlers::openExplorer(MainForm& form)
{
    OpenExplorer(form);
}

void LinkHandlers::openWebPage(MainForm& form)
{
    const Services& s = form.services();
    Links(s.shell, s.prompts).openWebPage();
}

} // namespace ztv
