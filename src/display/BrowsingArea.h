#pragma once

#include "display/PictureChoice.h"
#include "imaging/FolderListing.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailModel.h"
#include "platform/Media.h"
#include "values/Area.h"
#include "values/StoragePaths.h"

#include <QHash>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QTimer;
class QTreeWidgetItem;
class QImage;

namespace ztv {

class BrowseRun;
class ContentIndex;
class FolderList;
class FolderTree;
class Prompts;
struct Services;
class ThumbnailBrowser;
class ThumbnailList;

// What a browsing tab asks of the window around it.
class TabWindow {
public:
    // The popup menus of a tab: over a thumbnail, over the empty thumbnail area, over a box.
    // The popup menus of a tab: over a thumbnail, over the empty thumbnail area, over a box,
    // over a removable medium's root.
    enum class Menu { Picture, Empty, Boxes, Medium };

    virtual ~TabWindow() = default;
    // PictureSelected is the window's: a tab sets it by a choice and ends it by a press
    // over its tree.
    virtual void setPictureSelected(bool selected) = 0;
    virtual void popupMenu(Area area, Menu menu) = 0;
    // The one preview window shows path, which area's display shows.
    virtual void showPreview(Area area, const QString& path) = 0;
    // What the vault holds by content; none before the window has loaded (or in a test
    // window without one).
    virtual ContentIndex* contentIndex() { return nullptr; }
};

// One browsing tab: its controls, its folder tree, its page of thumbnails and the handlers
// of all of them. The tab's display shows exactly the tab's chosen picture (TabSelection), or
// nothing, and that picture's thumbnail is the one drawn as selected; every change of the
// choice goes through choose(), clearSelection() and afterListing(), which keep that so.
// Whether the file operations may act on it is the window's PictureSelected, which a tab
// switch or a press over a tree ends while the display stays.
class BrowsingArea : public QWidget {
    Q_OBJECT
public:
    // tabName is the tab's caption, which the controls' accessible names carry. paths may
    // be filled in after the tab is built, before its tree is.
    BrowsingArea(Area area, const QString& tabName, TabWindow& window, BrowseRun& run,
        const Services& services, const StoragePaths& paths, QWidget* parent = nullptr);

    // The tab's storage area.
    Area area() const { return m_area; }

    // --- the controls (design names) ---
    FolderTree* TreeView1() const { return m_TreeView1; }
    ThumbnailBrowser* LEADThumb1() const { return m_LEADThumb1; }
    ThumbnailList* LEADImgList1() const { return m_LEADImgList1; }
    PictureDisplay* LEAD1() const { return m_LEAD1; }
    QLabel* Label1() const { return m_Label1; } // "/"
    QLabel* Label2() const { return m_Label2; } // caption inside the display
    QLabel* Label3() const { return m_Label3; } // number of pages
    QComboBox* Combo1() const { return m_Combo1; }
    // "新しい画像だけ表示": on the CD tab while a folder is listed; when ticked, the page hides
    // every picture whose content the vault holds (the marked ones, as the index answers).
    QCheckBox* onlyNewBox() const { return m_OnlyNew; }
    // The tree's folder list (the design's Dir1 of this tab).
    FolderList& Dir1() const;

    // --- the tab's state ---
    const QString& RootName() const { return m_RootName; }
    // The folder of the node last clicked or opened, as a tree path.
    const QString& CurrentNodePath() const { return m_CurrentNodePath; }
    // The folder the page lists, as on disk without a trailing "/"; "" before any listing.
    const QString& ListedFolder() const { return m_ListedFolder; }
    int NodeCount() const { return m_NodeCount; }
    // The path of each thumbnail, in list order; it mirrors the thumbnail list.
    const QStringList& HiddenList() const { return m_HiddenList; }
    // The chosen picture (the file of the thumbnail chosen last, checked against the disk);
    // none while nothing is chosen.
    std::optional<PictureChoice> TabSelection() const
    {
        return m_Chosen.isEmpty() ? std::nullopt : std::optional<PictureChoice>(m_Chosen.last());
    }
    // Every chosen file, in the order chosen; the last is TabSelection, the one shown. Empty
    // while nothing is chosen.
    const QList<PictureChoice>& Chosen() const { return m_Chosen; }
    int chosenCount() const { return int(m_Chosen.size()); }
    // Says how many are chosen while more than one is; hidden otherwise.
    QLabel* chosenCountLabel() const { return m_LabelChosen; }
    // The file the preview window opened last; "" for none.
    const QString& PreviewPath() const { return m_PreviewPath; }

    // --- the handlers ---
    void TreeView1_Expand(QTreeWidgetItem* node);
    void TreeView1_Collapse(QTreeWidgetItem* node);
    void TreeView1_NodeClick(QTreeWidgetItem* node);
    void TreeView1_MouseButton(Qt::MouseButton button, QPoint at);
    void LEADImgList1_Click(int item);
    // Ctrl adds or removes the item; Shift chooses the range from the last plain or Ctrl
    // choice to it (across pages).
    void LEADImgList1_ClickWith(int item, Qt::KeyboardModifiers modifiers);
    // Every picture of the page list (all pages); the one shown stays shown.
    void chooseAll();
    // Back to the picture shown alone.
    void chooseShownOnly();
    void LEADImgList1_MouseButton(Qt::MouseButton button, QPoint at);
    void LEAD1_Click();
    // The page selector (Combo1, "/", Label3): set for the pages listed, showing page 1.
    void ComboSet();
    // Scrolls the thumbnails to the page the selector shows.
    void Combo1_Click();

    // --- the tree ---
    // The first tree at start: the area's top node and one level of folders under it.
    void BuildAreaTree();
    // A fresh tree: its top node and the top folder's sub-folders; leaves the folder list
    // on the top folder.
    void rebuildTree();
    // The folder on disk of a tree path.
    QString folderOf(const QString& treePath) const;
    // Adds the sub-folders of the nodes with those keys (one level ahead of the tree shown).
    void TreeEnum(const QStringList& parentKeys);
    // Selects and expands the node with that tree path; the folder it marks becomes current
    // (CurrentNodePath), so the box buttons and the re-listings act on the folder the user sees.
    void Node_Exp(const QString& treePath);
    // Node_Exp for every leading part of a tree path, outermost first.
    void ReopenTreePath(const QString& treePath);
    // The current folder's tree path while the tree still marks it; "" when the keyboard
    // moved the mark elsewhere without choosing, or nothing is current.
    QString markedCurrentPath() const;
    // The CD tab: reads the first drive afresh (asking the desktop to mount a disc that is in
    // the drive but not mounted when mountIfNeeded), rebuilds the tree from it and empties
    // the tab. Gives the folder to list: the disc's mount point, or "" without a disc.
    QString reloadCdTree(bool mountIfNeeded);
    // The drive as the CD tree shows it.
    const CdDrive& cdDrive() const { return m_cdDrive; }

    // --- removable media (the CD tab's roots after the disc's) ---
    // The media as the tree shows them, in their roots' order.
    const QList<Medium>& shownMedia() const { return m_media; }
    // The media as they are now, without the disc and the medium the storage root lies on.
    QList<Medium> currentMedia() const;
    // Follows the media as they are now: roots of media gone are removed (a page listing one
    // is emptied, a choice on it ended), new ones added at the end; the other roots keep
    // their nodes, the current node and the page.
    void updateMediaRoots();
    // Whether folder lies on a shown medium that is no longer mounted.
    bool onGoneMedium(const QString& folder) const;
    // The medium whose root node is the tree's current node, if any.
    std::optional<Medium> markedMedium() const;
    // The folder on disk of the tree's current node on the CD tab (a medium's root or folder,
    // the disc's while one is mounted); "" for none.
    QString markedFolder() const;
    // Chooses the root of the medium holding path (a card's mount point, as the desktop gives
    // it at start) and lists it as a click would; false when no medium holds it.
    bool openMediumAt(const QString& path);
    // Unmounts the medium (and powers its drive off) while nothing reads it; its root goes.
    Removal removeMedium(const Medium& medium);
    // The text over the page, shown while a phone's root lists nothing at all.
    QLabel* mediumHint() const { return m_LabelMedium; }

    // --- listing ---
    // How a listing treats the page, the window and the choice.
    enum class ListHow {
        // The user opened the folder (a tree click): emptied first, the window disabled for
        // the run; once listed whole, nothing stays chosen.
        Open,
        // As Open, but a chosen file still listed stays chosen (a collapse, start, the disc
        // watch).
        Show,
        // After the program changed the folder: the window disabled for the run, the choice
        // ended. Files unchanged since the last whole listing of the same folder keep their
        // rows and pictures; only what changed is read.
        AfterChange,
        // As AfterChange, with the window left as it is (the box commands, saving).
        Quietly,
    };
    enum class ListResult { Done, Stopped, Failed };
    struct Listing {
        ListResult result = ListResult::Done;
        int error = 0; // why a failed listing failed, as the design's code
        // The design's code: 0 done, 20100 stopped, else the error.
        int code() const;
        bool done() const { return result == ListResult::Done; }
    };
    // Lists folder's pictures as how says, sets the page selector for the pages listed
    // (showing page 1 when done, and whenever the number of pages changed) and settles or ends
    // the choice. A stop asked of an earlier run does not cut it short.
    Listing list(const QString& folder, ListHow how);
    // A tab's first listing at start: its tree built, its root listed (not the CD tab's).
    void load();
    // The folder the page shows: the one listed last, else the current node's.
    QString currentFolder() const;
    // The thumbnail cache forgets a file that went, or keeps a renamed file's thumbnails.
    // Both also tell the vault's content index of the change.
    void dropCacheEntries(const QString& file);
    void moveCacheEntries(const QString& from, const QString& to);
    // The pictures of the page whose content the vault holds are marked when the index
    // answers (CD and stock yard); a vault listing has the index compare the vault's folders.
    void markVaultCopies();

    // --- the choice ---
    // A click or Enter on thumbnail item: shows and records its file. A file that went away
    // or cannot be shown empties the page, the display and the choice.
    bool choose(int item);
    // Ctrl: item added to the choice and shown, or (when chosen) taken out of it. Shift: the
    // items from the anchor to item added, item shown. A file gone empties the page, as
    // choose() does. False when nothing stays chosen.
    bool chooseWith(int item, Qt::KeyboardModifiers modifiers);
    // The first picture of the page after the last chosen one that is not chosen itself; ""
    // for none. Asked before an operation takes the chosen ones away.
    QString pictureAfterChoice() const;
    // Chooses that picture, as a click on it does, while the page still lists it; false (the
    // choice as it was) when it does not.
    bool chooseNext(const QString& next);
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
    // One listed picture more at the page's end.
    void AddThumbnailItem(const QString& path, const QImage& bitmap);

    // What an operation acts on: the chosen file while it is still the one chosen. A file
    // moved, replaced or changed since is reported (as an error under errorTitle, or, without
    // one, as a notice) and the choice cleared; none then, and none (silently) while nothing
    // is chosen.
    std::optional<QString> fileToActOn(Prompts& prompts, const char16_t* errorTitle = nullptr);
    // Every chosen file while all are still the ones chosen; otherwise reported as
    // fileToActOn does and the choice cleared: none then, and none while nothing is chosen.
    std::optional<QList<PictureChoice>> chosenToActOn(Prompts& prompts, const char16_t* errorTitle);
    // Runs step(0) .. step(count - 1) as a run the user sees (window disabled, a progress line
    // of progressText with %1 done and %2 count, Esc watched); Esc stops it between two steps.
    // Gives how many steps ran.
    int runSteps(int count, const QString& progressText, const std::function<void(int)>& step);
    // Within such a run, the progress line of a step that takes long (a large copy).
    void showStepLine(const QString& text);
    // The same for the operations that also run with nothing chosen: "" then.
    std::optional<QString> fileOrNothingToActOn(Prompts& prompts);
    // The chosen picture, as the display holds it, onto the clipboard (with its file when
    // withFile); the display's result.
    PictureDisplay::CopyResult copyToClipboard(bool withFile);

    // The paths the page would list without "新しい画像だけ表示": the listing the vault's
    // answers refer to (HiddenList while nothing is hidden).
    QStringList listedPictures() const;

    // "" while the display, the choice and the drawn selection agree; else what differs.
    QString invariantViolation() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One file of the name listing of the page, as the last whole listing found it.
    struct Named {
        QString path;
        FileStamp stamp;
        int row = -1; // its row; Unlisted (counted, not a picture) or Vanished (neither)
    };
    static constexpr int Unlisted = -1;
    static constexpr int Vanished = -2;
    int listWhole(const QString& folder);
    // The re-listing that keeps the rows of files unchanged since the last whole listing;
    // nullopt where it cannot (another folder, or that listing did not finish).
    std::optional<int> listChanges(const QString& folder);
    void connectControls();
    void ThumbnailReady(const QImage& bitmap, const QString& path, int status);
    void setRoot(const QString& key, const QString& icon);
    void addMediumRoot(const Medium& medium);
    // The medium whose root the tree path starts at; none for the disc's.
    std::optional<Medium> mediumOf(const QString& treePath) const;
    // A medium root clicked: the folder to list. Where DCIM is its only folder, the tree opens
    // at DCIM and the page shows DCIM's camera folder (cameraFolder).
    QString openMediumRoot(const Medium& medium);
    // Shows the last of m_Chosen, draws all of them; false (the page emptied) when the shown
    // file cannot be shown.
    bool showChosen();
    void drawChosen();
    // The page row of a position in m_lookedUp; -1 for one the filter hides or none.
    int shownRow(int position) const;
    QString markText(const QString& vaultCopy) const;
    // Shows exactly the looked-up pictures the filter lets through, in listing order, keeping
    // each row's picture, mark and counter, the choice (unless hidden) and the page number.
    void applyOnlyNew();

    const Area m_area;
    TabWindow& m_window;
    BrowseRun& m_run;
    const Services& m_services;
    const StoragePaths& m_paths;

    FolderTree* m_TreeView1 = nullptr;
    ThumbnailBrowser* m_LEADThumb1 = nullptr;
    ThumbnailList* m_LEADImgList1 = nullptr;
    PictureDisplay* m_LEAD1 = nullptr;
    QLabel* m_Label1 = nullptr;
    QLabel* m_Label2 = nullptr;
    QLabel* m_Label3 = nullptr;
    QComboBox* m_Combo1 = nullptr;
    QCheckBox* m_OnlyNew = nullptr;
    QFrame* m_Shape1 = nullptr;
    QLabel* m_LabelChosen = nullptr;

    QString m_RootName;
    QString m_CurrentNodePath;
    QString m_ListedFolder;
    int m_NodeCount = 0;
    QStringList m_HiddenList;
    // The folder's files as its last whole listing found them (listChanges), with the box
    // its pictures were made for; empty while the page holds anything else.
    std::vector<Named> m_named;
    QSize m_namedBox;
    std::vector<int> m_examined; // the rows the running listing gave its files (as Named::row)
    QList<PictureChoice> m_Chosen;
    QString m_AnchorPath; // where a Shift choice starts
    QStringList m_RangePaths; // what the last Shift choice added
    QString m_PreviewPath;
    CdDrive m_cdDrive;
    QList<Medium> m_media;
    QLabel* m_LabelMedium = nullptr;
    QPointer<ContentIndex> m_connectedIndex; // null again once that index is gone
    quint64 m_markTicket = 0; // the index's answers to the page listed last
    // Positions below are in m_lookedUp, the page as listed (rows while nothing is hidden).
    QStringList m_lookedUp; // the listing the index's answers refer to; empty with the page
    QHash<int, QString> m_markCopies; // marked position -> the vault copy its mark names
    QSet<int> m_markFound; // positions the answers running now named
    // While the filter hides rows: position -> page row (-1 hidden), and the hidden rows.
    std::vector<int> m_rowOf;
    struct HiddenRow {
        ThumbnailModel::Kept kept;
        int counter = 0;
    };
    QHash<int, HiddenRow> m_hiddenRows;
    QTimer* m_filterTimer = nullptr; // marks arriving one by one re-page the list once
};

// Tells that the picture an operation was asked for is no longer the one chosen: as an error
// under errorTitle, or, without one, as a notice.
void reportChoiceGone(Prompts& prompts, const char16_t* text, const char16_t* errorTitle);

// Of the folders below a card's DCIM, the one whose pictures a click on the card shows: the only
// one, a phone's "Camera", else the highest-numbered camera folder ("101CANON" over "100CANON");
// "" where none fits.
QString cameraFolder(const QStringList& folders);

} // namespace ztv
