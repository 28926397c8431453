#pragma once

#include "platform/Services.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QAction;
class QTabWidget;
class QToolButton;
class QTreeWidgetItem;

namespace ztv {

class FolderList;
class FolderTree;
class PictureDisplay;
class ThumbnailBrowser;
class ThumbnailList;
class PreviewForm;
class BrowseKeyWatch;
class Boxes;
class PictureFiles;
class VaultTransfer;
class PasteArea;
class PictureSaving;
class SaveDialog;
class SpreadsheetExport;
class LinkHandlers;

// The main window: three browsing tabs (CD, stock yard, vault) and the paste tab, the
// per-tab controls and the state the operations share. The operations themselves live
// with their subsystems and are handed this window.
class MainForm : public QWidget {
    Q_OBJECT
public:
    explicit MainForm(const Services& services, QWidget* parent = nullptr);
    ~MainForm() override;

    // The whole initialisation: storage paths, the three browsing tabs, the spreadsheet check.
    void Form_Load();

    const Services& services() const { return m_services; }

    // --- per-tab controls, indexed by AreaIndex 0..2 (paste tab has none) ---
    QTabWidget* SSTab1 = nullptr;
    FolderTree* TreeView1[3] {};
    ThumbnailBrowser* LEADThumb1[3] {};
    ThumbnailList* LEADImgList1[3] {};
    PictureDisplay* LEAD1[3] {};
    QLabel* Label1[3] {}; // "/"
    QLabel* Label2[3] {}; // caption inside the display
    QLabel* Label3[3] {}; // number of pages
    QComboBox* Combo1[3] {};
    QFrame* Shape1[3] {};
    PictureDisplay* LEAD2 = nullptr; // the paste display
    PictureDisplay* LEAD3 = nullptr; // hidden working copy of the pasted picture
    SaveDialog* LEADDlg1 = nullptr;  // the save dialog of the paste tab's saves
    // Puts another save dialog in LEADDlg1's place (tests answer it from a script).
    void setSaveDialog(std::unique_ptr<SaveDialog> dialog);
    QToolButton* Command1[5] {};
    QToolButton* Command2 = nullptr;
    QToolButton* Command3[4] {};
    QToolButton* Command4[7] {};
    QToolButton* Command5[3] {};
    QLabel* BrowseStatus = nullptr; // progress of a browse run
    // Dir1(t) is the folder list of that tab's tree.
    FolderList& Dir1(int tab);

    // --- popup menus and their items (object names are the design names) ---
    QMenu* menu_L = nullptr;
    QMenu* menu_RCD = nullptr;
    QMenu* menu_R = nullptr;
    QMenu* menu_RF = nullptr;
    QMenu* menu_Clip = nullptr;
    QMenu* menu_EX = nullptr;
    QAction *dirpopup_new = nullptr, *dirpopup_del = nullptr, *dirpopup_mod = nullptr;
    QAction *RCD_Fav_Copy = nullptr, *RCD_Clip_Copy = nullptr, *Exl_copy0 = nullptr, *RCD_Explora = nullptr;
    QAction *R_Fav_Copy = nullptr, *R_Del = nullptr, *R_Clip_Copy = nullptr, *Exl_copy1 = nullptr,
            *R_Explora = nullptr;
    QAction *RF_Del = nullptr, *RF_Mod = nullptr, *RF_Clip_Copy = nullptr, *Exl_copy2 = nullptr,
            *RF_Explora = nullptr;
    QAction *Clip_Past = nullptr, *Clip_Clear = nullptr, *Clip_Save1 = nullptr, *Clip_Save2 = nullptr;
    QAction* EX_Explora = nullptr;

    // Opens a popup menu at the pointer and returns when it has closed. Tests replace the
    // opener to record which menu would open without blocking.
    void PopupMenu(QMenu* menu);
    void setMenuOpener(std::function<void(QMenu*)> opener) { m_menuOpener = std::move(opener); }

    // --- shared state; slot 3 of each array is never used ---
    QString RootBase[4];
    QString RootName[4];
    QString CurrentNodePath[4];
    // Counters and positions are int: a folder may hold more than 32767 pictures, and a
    // 16-bit position would then name another file. Nothing stores them.
    int NodeCount[4] {};
    qint16 TabHasSelection[4] {};
    int TabSelectedIndex[4] {};
    QStringList HiddenList[4];
    bool gbBrowsing = false;
    qint16 gBrowseQuit = 0;
    qint32 gBrowseIndex = 0;

    // --- folder trees ---
    void BuildAreaTree(int tab);
    void TreeEnum(int tab, const QStringList& parentKeys);
    void Node_Exp(int tab, const QString& treePath);
    // Node_Exp for every leading part of a tree path, outermost first: opens the tree down to it.
    void ReopenTreePath(int tab, const QString& treePath);
    // The folder on disk of a tab's tree path.
    QString folderOf(int tab, const QString& treePath) const;

    // --- page selector ---
    void ComboSet(int tab);
    void Combo1_Click(int tab);

    // --- thumbnail browsing ---
    void ThumbnailBrowserSetup(int tab);
    // Lists a folder's pictures on a tab: window disabled for the run; 0, 20100 or an error.
    int ShowFolderThumbnails(int tab, const QString& folder);
    void AddThumbnailItem(int tab, const QString& path, const QImage& bitmap);
    // Empties a tab's thumbnails, its path list and its display.
    void ClearTabPictures(int tab);
    PreviewForm* previewForm() const; // the open preview window, if any

    // --- the subsystems' operations, reachable for each other ---
    Boxes& boxes() { return *m_boxes; }
    PictureFiles& pictureFiles() { return *m_pictureFiles; }
    VaultTransfer& vaultTransfer() { return *m_vaultTransfer; }
    PasteArea& pasteArea() { return *m_pasteArea; }
    PictureSaving& pictureSaving() { return *m_pictureSaving; }
    SpreadsheetExport& spreadsheetExport() { return *m_spreadsheetExport; }
    LinkHandlers& linkHandlers() { return *m_links; }

    // What closing the window does after the preview is closed; ends the program by default.
    void setQuitHandler(std::function<void()> quit) { m_quit = std::move(quit); }

public Q_SLOTS:
    void SSTab1_Click();
    void Command1_Click(int index);
    void Command2_Click();
    void Command3_Click(int index);
    void Command4_Click(int index);
    void Command5_Click(int index);
    void Form_Unload();

    void TreeView1_Expand(int tab, QTreeWidgetItem* node);
    void TreeView1_Collapse(int tab, QTreeWidgetItem* node);
    void TreeView1_NodeClick(int tab, QTreeWidgetItem* node);
    void TreeView1_MouseButton(int tab, int button, int shift, int x, int y);

    void LEADThumb1_ThumbnailReady(int tab, const QImage& bitmap, const QString& path, int status);
    void LEADImgList1_Click(int tab, int item);
    void LEADImgList1_MouseButton(int tab, int button, int shift, int x, int y);
    void LEAD1_Click(int tab);
    void LEAD2_MouseButton(int button, int shift, int x, int y);

    // Handlers of the buttons and menu items; a button and its item run the same one.
    void RCD_Fav_Copy_Click();
    void RCD_Clip_Copy_Click();
    void RCD_Explora_Click();
    void R_Fav_Copy_Click();
    void R_Del_Click();
    void R_Clip_Copy_Click();
    void R_Explora_Click();
    void RF_Del_Click();
    void RF_Mod_Click();
    void RF_Clip_Copy_Click();
    void RF_Explora_Click();
    void EX_Explora_Click();
    void dirpopup_new_Click();
    void dirpopup_del_Click();
    void dirpopup_mod_Click();
    void Exl_copy0_Click();
    void Exl_copy1_Click();
    void Exl_copy2_Click();
    void Clip_Past_Click();
    void Clip_Clear_Click();
    void Clip_Save1_Click();
    void Clip_Save2_Click();

protected:
    // Builds one browsing tab at start; anything it throws is the tab's failure.
    virtual void LoadTab(int tab);
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildBrowsingTab(int tab, QWidget* page);
    void buildPasteTab(QWidget* page);
    void buildMenus();
    void connectTab(int tab);
    void SpreadsheetCheck();
    void rebuildCdTree(int tab);
    void showBrowseProgress();

    Services m_services;
    std::function<void(QMenu*)> m_menuOpener;
    std::function<void()> m_quit;
    QPointer<QWidget> m_preview;
    int m_previewTab = 0;
    int m_browseTab = -1;
    int m_browseFiles = 0;
    std::unique_ptr<BrowseKeyWatch> m_keyWatch;
    std::unique_ptr<Boxes> m_boxes;
    std::unique_ptr<PictureFiles> m_pictureFiles;
    std::unique_ptr<VaultTransfer> m_vaultTransfer;
    std::unique_ptr<PasteArea> m_pasteArea;
    std::unique_ptr<PictureSaving> m_pictureSaving;
    std::unique_ptr<SaveDialog> m_saveDialog;
    std::unique_ptr<SpreadsheetExport> m_spreadsheetExport;
    std::unique_ptr<LinkHandlers> m_links;
};

} // namespace ztv
