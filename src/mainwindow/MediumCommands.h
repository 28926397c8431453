#pragma once

#include <QString>

#include <functional>

namespace ztv {

class BrowseRun;
class BrowsingArea;
class Prompts;

// The removable media's commands: "取り外し" on the CD tab's marked medium root, and the start
// with a card's path. They use of the window only the CD tab, its one operation under way, its
// messages and a way to bring the CD tab forward.
class MediumCommands {
public:
    MediumCommands(BrowsingArea& cd, BrowseRun& run, Prompts& prompts, std::function<void()> showCdTab);

    // Unmounts the medium whose root is marked, or says why it cannot (busy, the system's
    // reason); nothing when no medium root is marked.
    void removeMarked();
    // The CD tab comes forward with the medium holding path opened down to it; false (and
    // nothing opened) when no medium holds it or another operation is under way.
    bool openAt(const QString& path);

private:
    BrowsingArea& m_cd;
    BrowseRun& m_run;
    Prompts& m_prompts;
    std::function<void()> m_showCdTab;
};

} // namespace ztv
