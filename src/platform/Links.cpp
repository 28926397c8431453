#include "platform/Links.h"

#include "platform/Prompts.h"
#include "platform/Shell.h"

#include "platform/PathCodec.h"

#include <sys/stat.h>

namespace ztv {

namespace {
// Shown when no browser could be started for the web page.
constexpr char16_t kWebPageFailed[] = u"「ソラノ」ページを開けませんでした。\n"
                                      u"ブラウザが使える状態か確認してください。";
} // namespace

Links::Links(Shell& shell, Prompts& prompts)
    : m_shell(shell)
    , m_prompts(prompts)
{
}

QString Links::explorerFolder(
    int tab, const QString& cdDriveName, const QString& stockYardPath, const QString& vaultPath)
{
    switch (tab) {
    case 0:
        return cdDriveName;
    case 1:
        return stockYardPath;
    case 2:
        return vaultPath;
    default:
        return {};
    }
}

void Links::openExplorer(const QString& folder)
{
    // Only an existing folder goes to the desktop: ":" is no folder (and Qt would read it as
    // its resource root), and an empty drive's device path would be opened as a file.
    struct stat st;
    if (!folder.startsWith(u'/') || !statPath(folder, &st) || !S_ISDIR(st.st_mode))
        return;
    m_shell.openFolder(folder);
}

void Links::openWebPage()
{
    if (!m_shell.openUrl(QString::fromUtf16(kWebPageAddress)))
        m_prompts.message(
            QString::fromUtf16(kWebPageFailed), QString(), PromptIcon::Exclamation, PromptButtons::Ok);
}

} // namespace ztv
