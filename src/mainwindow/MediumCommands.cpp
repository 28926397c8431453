#include "mainwindow/MediumCommands.h"

#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "mainwindow/texts.h"
#include "platform/Prompts.h"
#include "widgets/FormLayout.h"

namespace ztv {

using layout::t;

MediumCommands::MediumCommands(
    BrowsingArea& cd, BrowseRun& run, Prompts& prompts, std::function<void()> showCdTab)
    : m_cd(cd)
    , m_run(run)
    , m_prompts(prompts)
    , m_showCdTab(std::move(showCdTab))
{
}

void MediumCommands::removeMarked()
{
    const std::optional<Medium> medium = m_cd.markedMedium();
    if (!medium)
        return;
    const Removal removal = m_cd.removeMedium(*medium);
    if (removal.result == Removal::Result::Busy)
        m_prompts.message(t(texts::MediumBusy));
    else if (removal.result == Removal::Result::Failed)
        m_prompts.message(removal.reason.isEmpty() ? t(texts::MediumNotRemoved) : removal.reason);
}

bool MediumCommands::openAt(const QString& path)
{
    m_showCdTab();
    const BrowseRun::Hold hold(&m_run);
    return hold && m_cd.openMediumAt(path);
}

} // namespace ztv
