#pragma once

#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "mainwindow/CommandTable.h"
#include "mainwindow/KeyboardNavigation.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QAction;
class QTabWidget;
class QTimer;
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
class BrowseRun;
class Boxes;
class PictureFiles;
class VaultTransfer;
class CardImport;
class PasteArea;
class PictureSaving;
class SaveDialog;
class SpreadsheetExport;
class PhotoLedger;
class LinkHandlers;
class ContentIndex;
class FilingJournal;
class BoxKeys;
class UndoRedo;
class BoxKeyCommands;
class FilingCommands;
class MediumCommands;
class CdTreeWatch;

// The main window: three browsing tabs (CD, stock yard, vault), each a BrowsingArea, and
// the paste tab. The operations live with their subsystems and reach the window only
// through OperationContext.
class MainForm : public QWidget, public OperationContext, public TabWindow, public KeyboardWindow {
    Q_OBJECT
public:
    explicit MainForm(const Services& services, QWidget* parent = nullptr);
    ~MainForm() override;

    // The whole initialisation: storage paths, the three browsing tabs, the spreadsheet check.
    void Form_Load();

    // --- OperationContext ---
    const Services& services() const override { return m_services; }
    const StoragePaths& storagePaths() const override { return m_paths; }
    QWidget* ownerWindow() override { return this; }
    std::optional<Area> currentArea() const override;
    BrowsingArea& area(Area area) override { return *m_areas[tabIndex(area)]; }
    const BrowsingArea& area(Area area) const { return *m_areas[tabIndex(area)]; }
    bool pictureSelected() const override { return m_PictureSelected; }
    void setPictureSelected(bool selected) override { m_PictureSelected = selected; }
    PictureDisplay& LEAD2() override { return *m_lead2; }
    PictureDisplay& LEAD3() override { return *m_lead3; }
    SaveDialog& LEADDlg1() override { return *m_saveDialog; }
    void popupPasteMenu() override { PopupMenu(menu(commands::MenuId::Clip)); }
    FilingJournal* journal() override;
    BoxKeys* boxKeys() override;
    BrowseRun* operationRun() override { return m_run.get(); }

    // --- controls outside the browsing tabs ---
    QTabWidget* SSTab1() const { return m_SSTab1; }
    // Puts another save dialog in LEADDlg1's place (tests answer it from a script).
    void setSaveDialog(std::unique_ptr<SaveDialog> dialog);
    // The design's button arrays: Command1 the paste tab's (2 is the exit button beside
    // Command2), Command3 the stock yard's, Command4 the vault's, Command5 the CD's.
    QToolButton* Command1(int index) const { return button("Command1_%1", index); }
    QToolButton* Command2() const { return m_buttons.value(QStringLiteral("Command2")); }
    QToolButton* Command3(int index) const { return button("Command3_%1", index); }
    QToolButton* Command4(int index) const { return button("Command4_%1", index); }
    QToolButton* Command5(int index) const { return button("Command5_%1", index); }
    // A row of buttons (commands::Place) in reading order.
    const QList<QToolButton*>& buttonsIn(commands::Place place) const { return m_placeButtons[int(place)]; }
    QLabel* BrowseStatus() const { return m_BrowseStatus; } // progress of a browse run

    // The commands (CommandTable): each menu item is its command's action, which the
    // command's button shows; object names are the design names. action() finds any row's; the
    // named ones are the design's, kept for the callers that use them.
    QAction* action(const char* name) const { return m_actions.value(QLatin1String(name)); }
    QAction* dirpopup_new() const { return action("dirpopup_new"); }
    QAction* dirpopup_del() const { return action("dirpopup_del"); }
    QAction* dirpopup_mod() const { return action("dirpopup_mod"); }
    QAction* RCD_Fav_Copy() const { return action("RCD_Fav_Copy"); }
    QAction* RCD_Clip_Copy() const { return action("RCD_Clip_Copy"); }
    QAction* Exl_copy0() const { return action("Exl_copy0"); }
    QAction* RCD_Explora() const { return action("RCD_Explora"); }
    QAction* R_Fav_Copy() const { return action("R_Fav_Copy"); }
    QAction* R_Del() const { return action("R_Del"); }
    QAction* R_Clip_Copy() const { return action("R_Clip_Copy"); }
    QAction* Exl_copy1() const { return action("Exl_copy1"); }
    QAction* R_Explora() const { return action("R_Explora"); }
    QAction* RF_Del() const { return action("RF_Del"); }
    QAction* RF_Mod() const { return action("RF_Mod"); }
    QAction* RF_Clip_Copy() const { return action("RF_Clip_Copy"); }
    QAction* Exl_copy2() const { return action("Exl_copy2"); }
    QAction* RF_Explora() const { return action("RF_Explora"); }
    QAction* Clip_Past() const { return action("Clip_Past"); }
    QAction* Clip_Clear() const { return action("Clip_Clear"); }
    QAction* Clip_Save1() const { return action("Clip_Save1"); }
    QAction* Clip_Save2() const { return action("Clip_Save2"); }
    QAction* EX_Explora() const { return action("EX_Explora"); }
    // Undo and redo of the last filing step (Ctrl+Z; Ctrl+Shift+Z and Ctrl+Y), the history
    // window, and the box menu's items that give a box key 1-9.
    FilingCommands& filingCommands() { return *m_filing; }

    // --- KeyboardWindow ---
    bool boxKeyPressed(int key) override;
    // "取り外し" and the start with a card's path.
    MediumCommands& mediumCommands() { return *m_mediumCommands; }
    bool openMediumAt(const QString& path);
    bool busy() const override { return m_run && m_run->busy(); }

    // Opens a popup menu at the pointer and returns when it has closed. Tests replace the
    // opener to record which menu would open without blocking.
    void PopupMenu(QMenu* menu);
    void setMenuOpener(std::function<void(QMenu*)> opener) { m_menuOpener = std::move(opener); }

    // The browse run the tabs share (gbBrowsing, gBrowseQuit, gBrowseIndex).
    BrowseRun& browseRun() { return *m_run; }
    const BrowseRun& browseRun() const { return *m_run; }

    // --- TabWindow ---
    void popupMenu(Area area, Menu menu) override;
    void showPreview(Area area, const QString& path) override;
    // Both TabWindow's and OperationContext's: made when the window loads.
    ContentIndex* contentIndex() override { return m_contentIndex.get(); }
    PreviewForm* previewForm() const; // the open preview window, if any

    // --- the subsystems' operations ---
    Boxes& boxes() { return *m_boxes; }
    PictureFiles& pictureFiles() { return *m_pictureFiles; }
    VaultTransfer& vaultTransfer() { return *m_vaultTransfer; }
    CardImport& cardImport() { return *m_cardImport; }
    PasteArea& pasteArea() { return *m_pasteArea; }
    PictureSaving& pictureSaving() { return *m_pictureSaving; }
    SpreadsheetExport& spreadsheetExport() { return *m_spreadsheetExport; }
    PhotoLedger& photoLedger() { return *m_photoLedger; }
    LinkHandlers& linkHandlers() { return *m_links; }

    // What closing the window does after the preview is closed; ends the program by default.
    void setQuitHandler(std::function<void()> quit) { m_quit = std::move(quit); }

public Q_SLOTS:
    void SSTab1_Click();
    void Form_Unload();

protected:
    // Builds one browsing tab at start (BrowsingArea::load); anything it throws is the tab's
    // failure. Tests override it to make a tab fail.
    virtual void LoadTab(Area area);
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void buildPasteTab(QWidget* page);
    // Walks the command table: the menus, every command's action and menu items, the buttons.
    void buildCommands();
    QAction* command(const char16_t* caption, const char* iconName, std::function<void()> run);
    // An action with a caption of its own that triggers target and follows its enabled state;
    // on the paste tab it enables the window first.
    QAction* alias(QAction* target, const char16_t* caption, commands::Place place);
    QMenu* menu(commands::MenuId id) const { return m_menus[int(id)]; }
    QToolButton* button(const char* arrayName, int index) const
    {
        return m_buttons.value(QString::fromLatin1(arrayName).arg(index));
    }
    void SpreadsheetCheck();

    QTabWidget* m_SSTab1 = nullptr;
    QLabel* m_BrowseStatus = nullptr;
    // The popup menus (object names are the design names), the commands' actions by design
    // name, their buttons by design name and by row.
    std::array<QMenu*, commands::kMenuCount> m_menus {};
    QHash<QString, QAction*> m_actions;
    QHash<QString, QToolButton*> m_buttons;
    std::array<QList<QToolButton*>, commands::kPlaceCount> m_placeButtons;

    // A thumbnail of the current tab was chosen and no tab switch, press over a tree or
    // folder-changing file operation came since (OperationContext::pictureSelected).
    bool m_PictureSelected = false;
    Services m_services;
    StoragePaths m_paths;
    std::array<BrowsingArea*, kAreaCount> m_areas {}; // the browsing tabs' pages
    PictureDisplay* m_lead2 = nullptr; // the paste display
    PictureDisplay* m_lead3 = nullptr; // hidden working copy of the pasted picture
    std::function<void(QMenu*)> m_menuOpener;
    std::function<void()> m_quit;
    QPointer<QWidget> m_preview;
    Area m_previewArea = Area::Cd;
    std::unique_ptr<BrowseKeyWatch> m_keyWatch;
    std::unique_ptr<BrowseRun> m_run;
    std::unique_ptr<Boxes> m_boxes;
    std::unique_ptr<PictureFiles> m_pictureFiles;
    std::unique_ptr<VaultTransfer> m_vaultTransfer;
    std::unique_ptr<CardImport> m_cardImport;
    std::unique_ptr<PasteArea> m_pasteArea;
    std::unique_ptr<PictureSaving> m_pictureSaving;
    std::unique_ptr<SaveDialog> m_saveDialog;
    std::unique_ptr<SpreadsheetExport> m_spreadsheetExport;
    std::unique_ptr<PhotoLedger> m_photoLedger;
    std::unique_ptr<LinkHandlers> m_links;
    std::unique_ptr<ContentIndex> m_contentIndex;
    std::unique_ptr<FilingCommands> m_filing; // undo, redo, history and box keys
    std::unique_ptr<MediumCommands> m_mediumCommands;
    CdTreeWatch* m_cdWatch = nullptr; // made when the window loads
};

} // namespace ztv
