#include "mainwindow/MainForm.h"

#include "capture/PasteArea.h"
#include "capture/PictureSaving.h"
#include "display/BrowseKeyWatch.h"
#include "display/BrowseRun.h"
#include "display/PreviewForm.h"
#include "export/SpreadsheetExport.h"
#include "filing/BoxKeyNotes.h"
#include "filing/Boxes.h"
#include "filing/PictureFiles.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureScrollArea.h"
#include "imaging/SaveDialog.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FilingCommands.h"
#include "mainwindow/KeyboardNavigation.h"
#include "mainwindow/LinkHandlers.h"
#include "mainwindow/texts.h"
#include "platform/ContentIndex.h"
#include "widgets/CommandButton.h"
#include "widgets/DropTarget.h"
#include "widgets/FolderTree.h"
#include "widgets/FormLayout.h"
#include "widgets/Icons.h"

#include <QAction>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

namespace ztv {

namespace {

using layout::t;
using layout::tw;

QString tabName(Area area)
{
    static const char16_t* names[] = { texts::TabCd, texts::TabStockYard, texts::TabVault };
    return t(names[tabIndex(area)]);
}

QToolButton* button(QWidget* parent, QAction* action, QRect geometry, const QString& name)
{
    auto* b = new CommandButton(action, parent);
    b->setGeometry(geometry);
    b->setObjectName(name);
    return b;
}

} // namespace

MainForm::MainForm(const Services& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_keyWatch(std::make_unique<BrowseKeyWatch>(this))
    , m_boxes(std::make_unique<Boxes>())
    , m_pictureFiles(std::make_unique<PictureFiles>())
    , m_vaultTransfer(std::make_unique<VaultTransfer>())
    , m_pasteArea(std::make_unique<PasteArea>())
    , m_pictureSaving(std::make_unique<PictureSaving>())
    , m_saveDialog(std::make_unique<SaveDialog>())
    , m_spreadsheetExport(std::make_unique<SpreadsheetExport>())
    , m_links(std::make_unique<LinkHandlers>())
    , m_filing(std::make_unique<FilingCommands>(services.fileOps, *m_vaultTransfer))
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(t(texts::MainCaption));
    setFixedSize(850, 695);
    buildMenus();
    buildWindow();
    showBoxKeys(*area(Area::Vault).TreeView1(), m_filing->boxKeys(), m_paths);
    setupKeyboard(*this);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(width() / 2, height() / 2));
    }
}

MainForm::~MainForm()
{
    if (m_preview)
        delete m_preview.data();
}

void MainForm::setSaveDialog(std::unique_ptr<SaveDialog> dialog)
{
    m_saveDialog = std::move(dialog);
}

std::optional<Area> MainForm::currentArea() const
{
    return areaAt(m_SSTab1->currentIndex());
}

void MainForm::buildWindow()
{
    m_Command2
        = button(this, command(texts::WebButton, "web-page", [this] { m_links->Command2_Click(*this); }),
            tw(9705, 120, 2010, 720), QStringLiteral("Command2"));

    m_BrowseStatus = new QLabel(this);
    m_BrowseStatus->setObjectName(QStringLiteral("BrowseStatus"));
    m_BrowseStatus->setGeometry(tw(120, 300, 9400, 400));
    m_BrowseStatus->hide();
    m_run = std::make_unique<BrowseRun>(*this, *m_BrowseStatus, *m_keyWatch);

    m_SSTab1 = new QTabWidget(this);
    m_SSTab1->setObjectName(QStringLiteral("SSTab1"));
    m_SSTab1->setGeometry(tw(120, 945, 12495, 9270));
    const char16_t* captions[] = { texts::TabCd, texts::TabStockYard, texts::TabVault, texts::TabPaste };
    for (int tab = 0; tab < 4; ++tab) {
        const std::optional<Area> a = areaAt(tab);
        QWidget* page = a
            ? m_areas[tab] = new BrowsingArea(*a, tabName(*a), *this, *m_run, m_services, m_paths)
            : new QWidget;
        page->setObjectName(QStringLiteral("SSTab1_%1").arg(tab));
        m_SSTab1->addTab(page, t(captions[tab]));
        if (a)
            addTabCommands(*a);
        else
            buildPasteTab(page);
    }
    m_SSTab1->setCurrentIndex(0);
    connect(m_SSTab1, &QTabWidget::currentChanged, this, &MainForm::SSTab1_Click);
    // A drag resting on a tab's label brings the tab forward, so thumbnails dragged from the
    // stock yard reach the vault's tree.
    m_SSTab1->tabBar()->setChangeCurrentOnDrag(true);
    m_SSTab1->tabBar()->setAcceptDrops(true);
    area(Area::Vault)
        .TreeView1()
        ->setDropHandlers(
            [this](const QString& path, const QMimeData& data) {
                return m_vaultTransfer->canDropInto(*this, path, data);
            },
            [this](const QString& path, const QMimeData& data, Qt::KeyboardModifiers keys) {
                m_vaultTransfer->dropInto(*this, path, data, keys);
            });

    // The exit button is member 2 of the paste tab's button array but sits beside Command2.
    m_Command1[2] = button(this, command(texts::Exit, "exit", [this] { pasteTabCommand(nullptr); }),
        tw(11805, 120, 795, 720), QStringLiteral("Command1_2"));
}

void MainForm::addTabCommands(Area ar)
{
    auto fill = [](QToolButton** array, const QList<QToolButton*>& buttons) {
        std::copy(buttons.begin(), buttons.end(), array);
    };
    BrowsingArea& a = area(ar);
    switch (ar) {
    case Area::Cd:
        // The design's button reads "move" where its menu item reads "copy"; both copy.
        fill(m_Command5,
            a.addCommands("Command5",
                { alias(m_RCD_Fav_Copy, texts::ToVaultMove), m_RCD_Clip_Copy, m_RCD_Explora }, 3));
        break;
    case Area::StockYard:
        fill(m_Command3, a.addCommands("Command3", { m_R_Fav_Copy, m_R_Del, m_R_Clip_Copy, m_R_Explora }, 3));
        break;
    case Area::Vault:
        fill(m_Command4,
            a.addCommands("Command4",
                { m_dirpopup_new, m_dirpopup_del, m_dirpopup_mod, m_RF_Del, m_RF_Mod, m_RF_Clip_Copy,
                    m_RF_Explora },
                0));
        break;
    }
}

void MainForm::buildPasteTab(QWidget* page)
{
    const int row = 90, bw = 750, bh = 705;
    // The paste tab's buttons enable the window before the menu item's operation.
    auto paste = [&](int index, QAction* item, const char16_t* caption, int left) {
        QAction* action = command(caption, nullptr, [this, item] { pasteTabCommand(item); });
        action->setIcon(item->icon());
        m_Command1[index]
            = button(page, action, tw(left, row, bw, bh), QStringLiteral("Command1_%1").arg(index));
    };
    paste(1, m_Clip_Past, texts::Paste, 240);
    paste(0, m_Clip_Clear, texts::ClearPicture, 1065);
    paste(3, m_Clip_Save1, texts::SaveBmpJpegPng, 1890);
    paste(4, m_Clip_Save2, texts::SaveGif, 2715);

    m_lead2 = new PictureDisplay;
    m_lead2->setObjectName(QStringLiteral("LEAD2"));
    // The picture at its own size; scroll bars reach the rest of a larger one.
    auto* pasteView = new PictureScrollArea(m_lead2, page);
    pasteView->setObjectName(QStringLiteral("LEAD2_view"));
    pasteView->setGeometry(tw(240, 840, 12015, 7935));
    m_lead2->setAccessibleName(t(texts::AccPastedPicture));
    connect(m_lead2, &PictureDisplay::mouseButton, this,
        [this](Qt::MouseButton button) { m_pasteArea->LEAD2_MouseButton(*this, button); });

    m_lead3 = new PictureDisplay(page);
    m_lead3->setObjectName(QStringLiteral("LEAD3"));
    m_lead3->setGeometry(tw(240, 8850, 615, 495));
    m_lead3->hide();
    // The saves write through the same file operations as the rest of the program.
    m_lead2->setFileOps(&m_services.fileOps);
    m_lead3->setFileOps(&m_services.fileOps);
    new DropTarget(
        page, [](const QMimeData& data) { return PictureDisplay::pastable(data); },
        [this](const QMimeData& data) { m_pasteArea->LEAD2_Drop(*this, data); });
}

QAction* MainForm::command(const char16_t* caption, const char* iconName, std::function<void()> run)
{
    auto* action = new QAction(t(caption), this);
    if (iconName)
        action->setIcon(icon(QLatin1String(iconName)));
    // The menus show their items as text only, as they always have.
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this, std::move(run));
    return action;
}

QAction* MainForm::alias(QAction* target, const char16_t* caption)
{
    QAction* action = command(caption, nullptr, [target] { target->trigger(); });
    action->setIcon(target->icon());
    action->setEnabled(target->isEnabled());
    connect(target, &QAction::enabledChanged, action, &QAction::setEnabled);
    return action;
}

void MainForm::pasteTabCommand(QAction* item)
{
    setEnabled(true);
    if (item)
        item->trigger();
    else
        close();
}

void MainForm::buildMenus()
{
    OperationContext& context = *this;
    auto run = [&context](auto& subsystem,
                   void (std::remove_reference_t<decltype(subsystem)>::*handler)(OperationContext&)) {
        return std::function<void()>([&context, &subsystem, handler] { (subsystem.*handler)(context); });
    };
    auto link = [this](void (LinkHandlers::*handler)(MainForm&)) {
        return std::function<void()>([this, handler] { (m_links.get()->*handler)(*this); });
    };
    Boxes& boxes = *m_boxes;
    PictureFiles& files = *m_pictureFiles;
    VaultTransfer& vault = *m_vaultTransfer;
    SpreadsheetExport& sheet = *m_spreadsheetExport;
    PasteArea& pasteArea = *m_pasteArea;
    PictureSaving& saving = *m_pictureSaving;

    // A menu item: the member that keeps its action, caption, design name, icon, handler.
    struct Item {
        QAction* MainForm::*action;
        const char16_t* caption;
        const char* name;
        const char* icon;
        std::function<void()> run;
    };
    // A popup menu and its items; the buttons of the same commands show these actions.
    auto menu = [this](QMenu* MainForm::*member, const char16_t* title, const char* name,
                    std::initializer_list<Item> items) {
        QMenu* m = this->*member = new QMenu(t(title), this);
        m->setObjectName(QLatin1String(name));
        for (const Item& item : items) {
            QAction* action = this->*item.action = command(item.caption, item.icon, item.run);
            action->setObjectName(QLatin1String(item.name));
            m->addAction(action);
        }
    };
    menu(&MainForm::m_menu_L, texts::MenuL, "menu_L",
        {
            { &MainForm::m_dirpopup_new, texts::AddBox, "dirpopup_new", "box-add",
                run(boxes, &Boxes::dirpopup_new_Click) },
            { &MainForm::m_dirpopup_del, texts::DeleteBox, "dirpopup_del", "box-delete",
                run(boxes, &Boxes::dirpopup_del_Click) },
            { &MainForm::m_dirpopup_mod, texts::RenameBox, "dirpopup_mod", "box-rename",
                run(boxes, &Boxes::dirpopup_mod_Click) },
        });
    menu(&MainForm::m_menu_RCD, texts::MenuRCD, "menu_RCD",
        {
            { &MainForm::m_RCD_Fav_Copy, texts::ToVaultCopy, "RCD_Fav_Copy", "vault-copy",
                run(vault, &VaultTransfer::RCD_Fav_Copy_Click) },
            { &MainForm::m_RCD_Clip_Copy, texts::ClipCopy, "RCD_Clip_Copy", "clipboard-copy",
                run(files, &PictureFiles::RCD_Clip_Copy_Click) },
            { &MainForm::m_Exl_copy0, texts::ExcelCopy, "Exl_copy0", nullptr,
                run(sheet, &SpreadsheetExport::Exl_copy0_Click) },
            { &MainForm::m_RCD_Explora, texts::Explorer, "RCD_Explora", "explorer",
                link(&LinkHandlers::RCD_Explora_Click) },
        });
    menu(&MainForm::m_menu_R, texts::MenuR, "menu_R",
        {
            { &MainForm::m_R_Fav_Copy, texts::ToVaultMove, "R_Fav_Copy", "vault-move",
                run(vault, &VaultTransfer::R_Fav_Copy_Click) },
            { &MainForm::m_R_Del, texts::DeleteFile, "R_Del", "file-delete",
                run(files, &PictureFiles::R_Del_Click) },
            { &MainForm::m_R_Clip_Copy, texts::ClipCopy, "R_Clip_Copy", "clipboard-copy",
                run(files, &PictureFiles::R_Clip_Copy_Click) },
            { &MainForm::m_Exl_copy1, texts::ExcelCopy, "Exl_copy1", nullptr,
                run(sheet, &SpreadsheetExport::Exl_copy1_Click) },
            { &MainForm::m_R_Explora, texts::Explorer, "R_Explora", "explorer",
                link(&LinkHandlers::R_Explora_Click) },
        });
    menu(&MainForm::m_menu_RF, texts::MenuRF, "menu_RF",
        {
            { &MainForm::m_RF_Del, texts::DeleteFile, "RF_Del", "file-delete",
                run(files, &PictureFiles::RF_Del_Click) },
            { &MainForm::m_RF_Mod, texts::RenameFile, "RF_Mod", "file-rename",
                run(files, &PictureFiles::RF_Mod_Click) },
            { &MainForm::m_RF_Clip_Copy, texts::ClipCopy, "RF_Clip_Copy", "clipboard-copy",
                run(files, &PictureFiles::RF_Clip_Copy_Click) },
            { &MainForm::m_Exl_copy2, texts::ExcelCopy, "Exl_copy2", nullptr,
                run(sheet, &SpreadsheetExport::Exl_copy2_Click) },
            { &MainForm::m_RF_Explora, texts::Explorer, "RF_Explora", "explorer",
                link(&LinkHandlers::RF_Explora_Click) },
        });
    menu(&MainForm::m_menu_Clip, texts::MenuClip, "menu_Clip",
        {
            { &MainForm::m_Clip_Past, texts::Paste, "Clip_Past", "paste",
                run(pasteArea, &PasteArea::Clip_Past_Click) },
            { &MainForm::m_Clip_Clear, texts::ClearPicture, "Clip_Clear", "clear",
                run(pasteArea, &PasteArea::Clip_Clear_Click) },
            { &MainForm::m_Clip_Save1, texts::MenuSaveBmpJpegPng, "Clip_Save1", "save-image",
                run(saving, &PictureSaving::Clip_Save1_Click) },
            { &MainForm::m_Clip_Save2, texts::MenuSaveGif, "Clip_Save2", "save-gif",
                run(saving, &PictureSaving::Clip_Save2_Click) },
        });
    menu(&MainForm::m_menu_EX, texts::MenuEX, "menu_EX",
        {
            { &MainForm::m_EX_Explora, texts::Explorer, "EX_Explora", "explorer",
                link(&LinkHandlers::EX_Explora_Click) },
        });

    m_filing->buildActions(
        *this, *this,
        [this](const char16_t* caption, std::function<void()> run) {
            return command(caption, nullptr, std::move(run));
        },
        m_menu_L, m_menu_EX);
}

FilingJournal* MainForm::journal()
{
    return m_filing->journal();
}

BoxKeys* MainForm::boxKeys()
{
    return m_filing->boxKeys();
}

bool MainForm::boxKeyPressed(int key)
{
    return m_filing->boxKeyPressed(*this, key);
}

void MainForm::popupMenu(Area area, Menu menu)
{
    if (menu == Menu::Boxes)
        PopupMenu(m_menu_L);
    else if (menu == Menu::Empty)
        PopupMenu(m_menu_EX);
    else
        PopupMenu(std::array { m_menu_RCD, m_menu_R, m_menu_RF }[tabIndex(area)]);
}

void MainForm::PopupMenu(QMenu* menu)
{
    if (m_menuOpener)
        m_menuOpener(menu);
    else
        menu->exec(QCursor::pos());
}

// The other tab's display keeps its picture, but no operation acts on it until a thumbnail
// is chosen again.
void MainForm::SSTab1_Click()
{
    m_PictureSelected = false;
}

} // namespace ztv
