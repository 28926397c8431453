#pragma once

#include "display/PictureChoice.h"
#include "values/Area.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <initializer_list>
#include <optional>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QToolButton;

namespace ztv {

class FolderTree;
class Prompts;
class PictureDisplay;
class ThumbnailBrowser;
class ThumbnailList;

// One browsing tab: its controls and the state its handlers share. The tab's display shows
// exactly the tab's chosen picture (TabSelection), or nothing, and that picture's thumbnail is
// the one drawn as selected; every change of the choice goes through choose(),
// clearSelection() and afterListing(), which keep that so. Whether the file operations may act
// on it is the window's PictureSelected, which a tab switch or a press over a tree ends while
// the display stays. The tab is the page widget: it builds and lays out its own controls.
class BrowsingArea : public QWidget {
    Q_OBJECT
public:
    // tabName is the tab's caption, which the controls' accessible names carry.
    BrowsingArea(Area area, const QString& tabName, QWidget* parent = nullptr);

    const Area area;

    FolderTree* TreeView1 = nullptr;
    ThumbnailBrowser* LEADThumb1 = nullptr;
    ThumbnailList* LEADImgList1 = nullptr;
    PictureDisplay* LEAD1 = nullptr;
    QLabel* Label1 = nullptr; // "/"
    QLabel* Label2 = nullptr; // caption inside the display
    QLabel* Label3 = nullptr; // number of pages
    QComboBox* Combo1 = nullptr;
    QFrame* Shape1 = nullptr;

    QString RootName;
    QString CurrentNodePath;
    // The folder the page lists, as on disk without a trailing "/"; "" before any listing.
    QString ListedFolder;
    int NodeCount = 0;
    // The path of each thumbnail, in list order; it mirrors the thumbnail list.
    QStringList HiddenList;
    // The chosen picture (the file of the thumbnail chosen last, checked against the disk);
    // none while nothing is chosen.
    std::optional<PictureChoice> TabSelection;
    // The file the preview window opens; "" for none.
    QString PreviewPath;

    // A click or Enter on thumbnail item: shows and records its file. A file that went away
    // or cannot be shown empties the page, the display and the choice.
    bool choose(int item);
    // Forgets the choice and empties the display together.
    void clearSelection();
    // After the page was listed again: a chosen file still listed stays chosen, shown and
    // drawn as selected; otherwise the choice and the display are cleared.
    void afterListing();
    // Empties the thumbnails and their path list; the choice is settled by the listing that
    // follows (afterListing) or by clearSelection().
    void clearPage();
    // Empties the page, the display and the choice.
    void ClearTabPictures();

    // What an operation acts on: the chosen file while it is still the one chosen. A file
    // moved, replaced or changed since is reported (as an error under errorTitle, or, without
    // one, as a notice) and the choice cleared; none then, and none (silently) while nothing
    // is chosen.
    std::optional<QString> fileToActOn(Prompts& prompts, const char16_t* errorTitle = nullptr);
    // The same for the operations that also run with nothing chosen: "" then.
    std::optional<QString> fileOrNothingToActOn(Prompts& prompts);

    // "" while the display, the choice and the drawn selection agree; else what differs.
    QString invariantViolation() const;

    // The tab's command buttons in the row above the thumbnails, each showing its action, from
    // the design's slot firstSlot on; named after the design's array (arrayName_index).
    QList<QToolButton*> addCommands(
        const char* arrayName, std::initializer_list<QAction*> actions, int firstSlot);

    // Adds the sub-folders of the nodes with those keys (one level ahead of the tree shown).
    void TreeEnum(const QStringList& parentKeys);
    // Selects and expands the node with that tree path; the folder it marks becomes current
    // (CurrentNodePath), so the box buttons and the re-listings act on the folder the user sees.
    void Node_Exp(const QString& treePath);
    // Node_Exp for every leading part of a tree path, outermost first.
    void ReopenTreePath(const QString& treePath);

    // The page selector (Combo1, "/", Label3): set for the pages listed, showing page 1.
    void ComboSet();
    // Scrolls the thumbnails to the page the selector shows.
    void Combo1_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Tells that the picture an operation was asked for is no longer the one chosen: as an error
// under errorTitle, or, without one, as a notice.
void reportChoiceGone(Prompts& prompts, const char16_t* text, const char16_t* errorTitle);

} // namespace ztv
