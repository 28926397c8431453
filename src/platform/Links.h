#pragma once

#include <QString>

namespace ztv {

class Prompts;
class Shell;

// The main window's links to other programs: the file manager on the current area's root, and
// the browser on the product's web page. Both return at once and keep nothing of the program
// they started.
class Links {
public:
    static constexpr char16_t kWebPageAddress[] = u"https://www.example.jp/sorano/";

    Links(Shell& shell, Prompts& prompts);

    // The folder the explorer link opens for a tab: always the area's root, never the folder
    // selected in the tab's tree. Tab 0 gives the first CD drive's name (":" when there is
    // none), tab 1 the stock yard, tab 2 the vault, any other tab "".
    static QString explorerFolder(
        int tab, const QString& cdDriveName, const QString& stockYardPath, const QString& vaultPath);

    // A folder that does not exist, ":" or "" opens nothing, and nothing is reported; the
    // desktop's own failure is not reported either.
    void openExplorer(const QString& folder);
    // A browser that cannot be started is reported in a message box.
    void openWebPage();

private:
    Shell& m_shell;
    Prompts& m_prompts;
};

} // namespace ztv
