#include "mainwindow/MainForm.h"

#include "capture/PasteArea.h"
#include "capture/PictureSaving.h"
#include "display/BrowseKeyWatch.h"
#include "display/BrowseRun.h"
#include "display/PreviewForm.h"
#include "export/PhotoLedger.h"
#include "export/SpreadsheetExport.h"
#include "filing/BoxKeyNotes.h"
#include "filing/Boxes.h"
#include "filing/CardImport.h"
#include "filing/MediumDelete.h"
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
#include "mainwindow/MediumCommands.h"
#include "mainwindow/texts.h"
#include "platform/ContentIndex.h"
#include "platform/Prompts.h"
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

} // namespace

MainForm::MainForm(const Services& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_keyWatch(std::make_unique<BrowseKeyWatch>(this))
    , m_boxes(std::make_unique<Boxes>())
    , m_pictureFiles(std::make_unique<PictureFiles>())
    , m_vaultTransfer(std::make_unique<VaultTransfer>())
    , m_cardImport(std::make_unique<CardImport>())
    , m_pasteArea(std::make_unique<PasteArea>())
    , m_pictureSaving(std::make_unique<PictureSaving>())
    , m_saveDialog(std::make_unique<SaveDialog>())
    , m_spreadsheetExport(std::make_unique<SpreadsheetExport>())
    , m_photoLedger(std::make_unique<PhotoLedger>())
    , m_links(std::make_unique<LinkHandlers>())
    , m_filing(std::make_unique<FilingCommands>(services.fileOps, *m_vaultTransfer))
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(t(texts::MainCaption));
    setFixedSize(850, 695);
    buildWindow();
    m_mediumCommands = std::make_unique<MediumCommands>(
        area(Area::Cd), *m_run, services.prompts, [this] { SSTab1()->setCurrentIndex(tabIndex(Area::Cd)); });
    buildCommands();
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
        if (!a)
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
            },
            [this] { return m_run->busy(); });
}

void MainForm::buildPasteTab(QWidget* page)
{
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
        [this](const QMimeData& data) {
            if (const BrowseRun::Hold hold(m_run.get()); hold)
                m_pasteArea->LEAD2_Drop(*this, data);
        },
        [this] { return m_run->busy(); });
}

QAction* MainForm::command(const char16_t* caption, const char* iconName, std::function<void()> run)
{
    auto* action = new QAction(t(caption), this);
    if (iconName)
        action->setIcon(icon(QLatin1String(iconName)));
    // The menus show their items as text only, as they always have.
    action->setIconVisibleInMenu(false);
    // Every menu item, button and key of a command comes through here: one operation at a
    // time. A command arriving while another is under way (its disk call waiting aside, a
    // listing running) does nothing.
    connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
        if (const BrowseRun::Hold hold(m_run.get()); hold)
            run();
    });
    return action;
}

QAction* MainForm::alias(QAction* target, const char16_t* caption, commands::Place place)
{
    // Passed on to target, whose own trigger holds the operation. Not while one is under way:
    // the window it disabled stays so.
    auto* action = new QAction(t(caption), this);
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this, [this, target, place] {
        if (m_run->busy())
            return;
        if (place == commands::Place::Paste)
            setEnabled(true);
        target->trigger();
    });
    action->setIcon(target->icon());
    action->setEnabled(target->isEnabled());
    connect(target, &QAction::enabledChanged, action, &QAction::setEnabled);
    return action;
}

void MainForm::buildCommands()
{
    using namespace commands;
    for (const commands::Menu& m : menus()) {
        QMenu* item = m_menus[int(m.id)] = new QMenu(t(m.title), this);
        item->setObjectName(QLatin1String(m.name));
    }
    std::array<QList<std::pair<int, QToolButton*>>, kPlaceCount> rows;
    for (const Row& row : table()) {
        QAction* action = command(row.caption, row.icon, [this, run = row.run] { run(*this); });
        if (row.name) {
            action->setObjectName(QLatin1String(row.name));
            m_actions.insert(QLatin1String(row.name), action);
        }
        for (MenuId id : row.menus) {
            if (row.startsGroup)
                menu(id)->addSeparator();
            menu(id)->addAction(action);
        }
        if (!row.keys.isEmpty()) {
            action->setShortcuts(row.keys);
            action->setShortcutContext(Qt::WindowShortcut);
            addAction(action);
        }
        for (const Button& b : row.buttons) {
            QWidget* parent
                = b.place == Place::Top ? static_cast<QWidget*>(this) : m_SSTab1->widget(int(b.place));
            auto* button = new CommandButton(b.caption ? alias(action, b.caption, b.place) : action, parent);
            button->setGeometry(buttonGeometry(b.place, b.slot));
            button->setObjectName(QLatin1String(b.name));
            m_buttons.insert(QLatin1String(b.name), button);
            rows[int(b.place)].append({ b.slot, button });
        }
    }
    for (int place = 0; place < kPlaceCount; ++place) {
        std::sort(rows[place].begin(), rows[place].end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [slot, button] : std::as_const(rows[place]))
            m_placeButtons[place].append(button);
    }

    m_filing->buildActions(*this,
        [this](const char16_t* caption, std::function<void()> run) {
            return command(caption, nullptr, std::move(run));
        },
        menu(MenuId::L), { action("Undo"), action("Redo"), action("History") });
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
    using commands::MenuId;
    if (menu == Menu::Boxes)
        PopupMenu(this->menu(MenuId::L));
    else if (menu == Menu::Medium) {
        // Removal and freeing are a medium root's: greyed out over its folders and the disc's,
        // and freeing over a medium that cannot lose files (read-only, a refusing phone).
        const std::optional<Medium> medium = this->area(Area::Cd).markedMedium();
        action("Medium_Remove")->setEnabled(medium.has_value());
        action("Medium_DeleteFiled")->setEnabled(medium && MediumDelete::canDelete(*medium));
        PopupMenu(this->menu(MenuId::Medium));
    } else if (menu == Menu::Empty)
        PopupMenu(this->menu(MenuId::EX));
    else
        PopupMenu(this->menu(std::array { MenuId::RCD, MenuId::R, MenuId::RF }[tabIndex(area)]));
}

bool MainForm::openMediumAt(const QString& path)
{
    return m_mediumCommands->openAt(path);
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
