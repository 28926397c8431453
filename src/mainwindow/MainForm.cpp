#include "mainwindow/MainForm.h"

#include "capture/PasteArea.h"
#include "capture/PictureSaving.h"
#include "display/BrowseKeyWatch.h"
#include "display/PreviewForm.h"
#include "export/SpreadsheetExport.h"
#include "filing/Boxes.h"
#include "filing/PictureFiles.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureScrollArea.h"
#include "imaging/SaveDialog.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/CommandButton.h"
#include "mainwindow/KeyboardNavigation.h"
#include "mainwindow/LinkHandlers.h"
#include "mainwindow/texts.h"
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
#include <QScreen>
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

QToolButton* button(
    QWidget* parent, const char16_t* caption, const char* iconName, QRect geometry, const QString& name)
{
    auto* b = new CommandButton(t(caption), icon(QLatin1String(iconName)), parent);
    b->setGeometry(geometry);
    b->setObjectName(name);
    return b;
}

} // namespace

MainForm::MainForm(const Services& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_areas { BrowsingArea(Area::Cd), BrowsingArea(Area::StockYard), BrowsingArea(Area::Vault) }
    , m_keyWatch(std::make_unique<BrowseKeyWatch>(this))
    , m_boxes(std::make_unique<Boxes>())
    , m_pictureFiles(std::make_unique<PictureFiles>())
    , m_vaultTransfer(std::make_unique<VaultTransfer>())
    , m_pasteArea(std::make_unique<PasteArea>())
    , m_pictureSaving(std::make_unique<PictureSaving>())
    , m_saveDialog(std::make_unique<SaveDialog>())
    , m_spreadsheetExport(std::make_unique<SpreadsheetExport>())
    , m_links(std::make_unique<LinkHandlers>())
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(t(texts::MainCaption));
    setFixedSize(850, 695);
    buildWindow();
    buildMenus();
    for (Area a : kAreas)
        connectTab(a);
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

FolderList& MainForm::Dir1(Area a)
{
    return area(a).TreeView1->Dir1();
}

std::optional<Area> MainForm::currentArea() const
{
    return areaAt(SSTab1->currentIndex());
}

void MainForm::buildWindow()
{
    Command2
        = button(this, texts::WebButton, "web-page", tw(9705, 120, 2010, 720), QStringLiteral("Command2"));
    connect(Command2, &QToolButton::clicked, this, &MainForm::Command2_Click);

    BrowseStatus = new QLabel(this);
    BrowseStatus->setObjectName(QStringLiteral("BrowseStatus"));
    BrowseStatus->setGeometry(tw(120, 300, 9400, 400));
    BrowseStatus->hide();

    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->setGeometry(tw(120, 945, 12495, 9270));
    const char16_t* captions[] = { texts::TabCd, texts::TabStockYard, texts::TabVault, texts::TabPaste };
    for (int tab = 0; tab < 4; ++tab) {
        auto* page = new QWidget;
        page->setObjectName(QStringLiteral("SSTab1_%1").arg(tab));
        SSTab1->addTab(page, t(captions[tab]));
        if (const std::optional<Area> a = areaAt(tab))
            buildBrowsingTab(*a, page);
        else
            buildPasteTab(page);
    }
    SSTab1->setCurrentIndex(0);
    connect(SSTab1, &QTabWidget::currentChanged, this, &MainForm::SSTab1_Click);

    // The exit button is member 2 of the paste tab's button array but sits beside Command2.
    Command1[2] = button(this, texts::Exit, "exit", tw(11805, 120, 795, 720), QStringLiteral("Command1_2"));
    connect(Command1[2], &QToolButton::clicked, this, [this] { Command1_Click(2); });
}

void MainForm::buildBrowsingTab(Area ar, QWidget* page)
{
    BrowsingArea& a = area(ar);
    const int tab = tabIndex(ar);
    const QString name = tabName(ar);
    auto named = [tab](QWidget* w, const char* name) {
        w->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(tab));
    };

    a.TreeView1 = new FolderTree(page);
    named(a.TreeView1, "TreeView1");
    a.TreeView1->setGeometry(tw(345, 885, 2970, 4890));
    a.TreeView1->setAccessibleName(t(texts::AccFolder).arg(name));
    a.TreeView1->setNodeCounter(&a.NodeCount);

    a.Shape1 = new QFrame(page);
    named(a.Shape1, "Shape1");
    a.Shape1->setGeometry(tw(345, 6000, 2970, 2700));
    a.Shape1->setFrameShape(QFrame::Box);

    a.Label2 = new QLabel(t(texts::SelectedPicture), page);
    named(a.Label2, "Label2");
    a.Label2->setGeometry(tw(915, 6195, 1890, 360));
    // The caption lies over the display: a click on it is a click on the display.
    a.Label2->setAttribute(Qt::WA_TransparentForMouseEvents);

    a.LEAD1 = new PictureDisplay(page);
    named(a.LEAD1, "LEAD1");
    a.LEAD1->setGeometry(tw(375, 6015, 2835, 2655));
    a.LEAD1->setAccessibleName(t(texts::AccSelected).arg(name));
    // The caption names the empty display and would hide part of a picture, so it shows
    // only while the display is empty.
    a.LEAD1->installEventFilter(this);
    a.Label2->raise();

    a.LEADImgList1 = new ThumbnailList(page);
    named(a.LEADImgList1, "LEADImgList1");
    a.LEADImgList1->setGeometry(tw(3480, 870, 8640, 7845));
    a.LEADImgList1->setAccessibleName(t(texts::AccThumbnails).arg(name));

    a.LEADThumb1 = new ThumbnailBrowser(this);
    a.LEADThumb1->setObjectName(QStringLiteral("LEADThumb1_%1").arg(tab));

    a.Combo1 = new QComboBox(page);
    named(a.Combo1, "Combo1");
    a.Combo1->setGeometry(tw(11040, 540, 615, 300));
    a.Combo1->setAccessibleName(t(texts::AccPage).arg(name));
    a.Label1 = new QLabel(t(texts::Slash), page);
    named(a.Label1, "Label1");
    a.Label1->move(tw(11670, 555, 0, 0).topLeft());
    a.Label3 = new QLabel(page);
    named(a.Label3, "Label3");
    a.Label3->setGeometry(tw(11880, 570, 600, 300));
    // The role; ComboSet names the label with the role and the count it shows.
    a.Label3->setAccessibleDescription(t(texts::AccPageCount).arg(name));
    a.Label3->setAccessibleName(a.Label3->accessibleDescription());

    const int row = 120, bw = 750, bh = 705;
    auto at = [&](int left) { return tw(left, row, bw, bh); };
    switch (ar) {
    case Area::Cd:
        Command5[0] = button(page, texts::ToVaultMove, "vault-copy", at(3510), QStringLiteral("Command5_0"));
        Command5[1] = button(page, texts::ClipCopy, "clipboard-copy", at(4320), QStringLiteral("Command5_1"));
        Command5[2] = button(page, texts::Explorer, "explorer", at(5130), QStringLiteral("Command5_2"));
        for (int i = 0; i < 3; ++i)
            connect(Command5[i], &QToolButton::clicked, this, [this, i] { Command5_Click(i); });
        break;
    case Area::StockYard:
        Command3[0] = button(page, texts::ToVaultMove, "vault-move", at(3510), QStringLiteral("Command3_0"));
        Command3[1] = button(page, texts::DeleteFile, "file-delete", at(4320), QStringLiteral("Command3_1"));
        Command3[2] = button(page, texts::ClipCopy, "clipboard-copy", at(5130), QStringLiteral("Command3_2"));
        Command3[3] = button(page, texts::Explorer, "explorer", at(5940), QStringLiteral("Command3_3"));
        for (int i = 0; i < 4; ++i)
            connect(Command3[i], &QToolButton::clicked, this, [this, i] { Command3_Click(i); });
        break;
    case Area::Vault:
        Command4[0] = button(page, texts::AddBox, "box-add", at(360), QStringLiteral("Command4_0"));
        Command4[1] = button(page, texts::DeleteBox, "box-delete", at(1162), QStringLiteral("Command4_1"));
        Command4[2] = button(page, texts::RenameBox, "box-rename", at(1965), QStringLiteral("Command4_2"));
        Command4[3] = button(page, texts::DeleteFile, "file-delete", at(3510), QStringLiteral("Command4_3"));
        Command4[4] = button(page, texts::RenameFile, "file-rename", at(4320), QStringLiteral("Command4_4"));
        Command4[5] = button(page, texts::ClipCopy, "clipboard-copy", at(5130), QStringLiteral("Command4_5"));
        Command4[6] = button(page, texts::Explorer, "explorer", at(5940), QStringLiteral("Command4_6"));
        for (int i = 0; i < 7; ++i)
            connect(Command4[i], &QToolButton::clicked, this, [this, i] { Command4_Click(i); });
        break;
    }
}

void MainForm::buildPasteTab(QWidget* page)
{
    const int row = 90, bw = 750, bh = 705;
    Command1[1] = button(page, texts::Paste, "paste", tw(240, row, bw, bh), QStringLiteral("Command1_1"));
    Command1[0]
        = button(page, texts::ClearPicture, "clear", tw(1065, row, bw, bh), QStringLiteral("Command1_0"));
    Command1[3] = button(
        page, texts::SaveBmpJpegPng, "save-image", tw(1890, row, bw, bh), QStringLiteral("Command1_3"));
    Command1[4]
        = button(page, texts::SaveGif, "save-gif", tw(2715, row, bw, bh), QStringLiteral("Command1_4"));
    for (int i : { 0, 1, 3, 4 })
        connect(Command1[i], &QToolButton::clicked, this, [this, i] { Command1_Click(i); });

    m_lead2 = new PictureDisplay;
    m_lead2->setObjectName(QStringLiteral("LEAD2"));
    // The picture at its own size; scroll bars reach the rest of a larger one.
    auto* pasteView = new PictureScrollArea(m_lead2, page);
    pasteView->setObjectName(QStringLiteral("LEAD2_view"));
    pasteView->setGeometry(tw(240, 840, 12015, 7935));
    m_lead2->setAccessibleName(t(texts::AccPastedPicture));
    connect(m_lead2, &PictureDisplay::mouseButton, this,
        [this](Qt::MouseButton button) { LEAD2_MouseButton(button); });

    m_lead3 = new PictureDisplay(page);
    m_lead3->setObjectName(QStringLiteral("LEAD3"));
    m_lead3->setGeometry(tw(240, 8850, 615, 495));
    m_lead3->hide();
    // The saves write through the same file operations as the rest of the program.
    m_lead2->setFileOps(&m_services.fileOps);
    m_lead3->setFileOps(&m_services.fileOps);
}

void MainForm::buildMenus()
{
    auto menu = [this](const char16_t* caption, const char* name) {
        auto* m = new QMenu(t(caption), this);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    auto item = [this](QMenu* m, const char16_t* caption, const char* name, void (MainForm::*handler)()) {
        QAction* a = m->addAction(t(caption));
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    menu_L = menu(texts::MenuL, "menu_L");
    dirpopup_new = item(menu_L, texts::AddBox, "dirpopup_new", &MainForm::dirpopup_new_Click);
    dirpopup_del = item(menu_L, texts::DeleteBox, "dirpopup_del", &MainForm::dirpopup_del_Click);
    dirpopup_mod = item(menu_L, texts::RenameBox, "dirpopup_mod", &MainForm::dirpopup_mod_Click);

    menu_RCD = menu(texts::MenuRCD, "menu_RCD");
    RCD_Fav_Copy = item(menu_RCD, texts::ToVaultCopy, "RCD_Fav_Copy", &MainForm::RCD_Fav_Copy_Click);
    RCD_Clip_Copy = item(menu_RCD, texts::ClipCopy, "RCD_Clip_Copy", &MainForm::RCD_Clip_Copy_Click);
    Exl_copy0 = item(menu_RCD, texts::ExcelCopy, "Exl_copy0", &MainForm::Exl_copy0_Click);
    RCD_Explora = item(menu_RCD, texts::Explorer, "RCD_Explora", &MainForm::RCD_Explora_Click);

    menu_R = menu(texts::MenuR, "menu_R");
    R_Fav_Copy = item(menu_R, texts::ToVaultMove, "R_Fav_Copy", &MainForm::R_Fav_Copy_Click);
    R_Del = item(menu_R, texts::DeleteFile, "R_Del", &MainForm::R_Del_Click);
    R_Clip_Copy = item(menu_R, texts::ClipCopy, "R_Clip_Copy", &MainForm::R_Clip_Copy_Click);
    Exl_copy1 = item(menu_R, texts::ExcelCopy, "Exl_copy1", &MainForm::Exl_copy1_Click);
    R_Explora = item(menu_R, texts::Explorer, "R_Explora", &MainForm::R_Explora_Click);

    menu_RF = menu(texts::MenuRF, "menu_RF");
    RF_Del = item(menu_RF, texts::DeleteFile, "RF_Del", &MainForm::RF_Del_Click);
    RF_Mod = item(menu_RF, texts::RenameFile, "RF_Mod", &MainForm::RF_Mod_Click);
    RF_Clip_Copy = item(menu_RF, texts::ClipCopy, "RF_Clip_Copy", &MainForm::RF_Clip_Copy_Click);
    Exl_copy2 = item(menu_RF, texts::ExcelCopy, "Exl_copy2", &MainForm::Exl_copy2_Click);
    RF_Explora = item(menu_RF, texts::Explorer, "RF_Explora", &MainForm::RF_Explora_Click);

    menu_Clip = menu(texts::MenuClip, "menu_Clip");
    Clip_Past = item(menu_Clip, texts::Paste, "Clip_Past", &MainForm::Clip_Past_Click);
    Clip_Clear = item(menu_Clip, texts::ClearPicture, "Clip_Clear", &MainForm::Clip_Clear_Click);
    Clip_Save1 = item(menu_Clip, texts::MenuSaveBmpJpegPng, "Clip_Save1", &MainForm::Clip_Save1_Click);
    Clip_Save2 = item(menu_Clip, texts::MenuSaveGif, "Clip_Save2", &MainForm::Clip_Save2_Click);

    menu_EX = menu(texts::MenuEX, "menu_EX");
    EX_Explora = item(menu_EX, texts::Explorer, "EX_Explora", &MainForm::EX_Explora_Click);
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
    PictureSelected = false;
}

void MainForm::Command1_Click(int index)
{
    setEnabled(true);
    switch (index) {
    case 0:
        m_pasteArea->Clip_Clear_Click(*this);
        break;
    case 1:
        m_pasteArea->Clip_Past_Click(*this);
        break;
    case 2:
        close();
        break;
    case 3:
        Clip_Save1_Click();
        break;
    case 4:
        Clip_Save2_Click();
        break;
    default:
        break;
    }
}

void MainForm::Command3_Click(int index)
{
    switch (index) {
    case 0:
        R_Fav_Copy_Click();
        break;
    case 1:
        R_Del_Click();
        break;
    case 2:
        R_Clip_Copy_Click();
        break;
    case 3:
        R_Explora_Click();
        break;
    default:
        break;
    }
}

void MainForm::Command4_Click(int index)
{
    switch (index) {
    case 0:
        dirpopup_new_Click();
        break;
    case 1:
        dirpopup_del_Click();
        break;
    case 2:
        dirpopup_mod_Click();
        break;
    case 3:
        RF_Del_Click();
        break;
    case 4:
        RF_Mod_Click();
        break;
    case 5:
        RF_Clip_Copy_Click();
        break;
    case 6:
        RF_Explora_Click();
        break;
    default:
        break;
    }
}

void MainForm::Command5_Click(int index)
{
    switch (index) {
    case 0:
        RCD_Fav_Copy_Click();
        break;
    case 1:
        RCD_Clip_Copy_Click();
        break;
    case 2:
        RCD_Explora_Click();
        break;
    default:
        break;
    }
}

void MainForm::Command2_Click()
{
    m_links->Command2_Click(*this);
}
void MainForm::RCD_Fav_Copy_Click()
{
    m_vaultTransfer->RCD_Fav_Copy_Click(*this);
}
void MainForm::RCD_Clip_Copy_Click()
{
    m_pictureFiles->RCD_Clip_Copy_Click(*this);
}
void MainForm::RCD_Explora_Click()
{
    m_links->RCD_Explora_Click(*this);
}
void MainForm::R_Fav_Copy_Click()
{
    m_vaultTransfer->R_Fav_Copy_Click(*this);
}
void MainForm::R_Del_Click()
{
    m_pictureFiles->R_Del_Click(*this);
}
void MainForm::R_Clip_Copy_Click()
{
    m_pictureFiles->R_Clip_Copy_Click(*this);
}
void MainForm::R_Explora_Click()
{
    m_links->R_Explora_Click(*this);
}
void MainForm::RF_Del_Click()
{
    m_pictureFiles->RF_Del_Click(*this);
}
void MainForm::RF_Mod_Click()
{
    m_pictureFiles->RF_Mod_Click(*this);
}
void MainForm::RF_Clip_Copy_Click()
{
    m_pictureFiles->RF_Clip_Copy_Click(*this);
}
void MainForm::RF_Explora_Click()
{
    m_links->RF_Explora_Click(*this);
}
void MainForm::EX_Explora_Click()
{
    m_links->EX_Explora_Click(*this);
}
void MainForm::dirpopup_new_Click()
{
    m_boxes->dirpopup_new_Click(*this);
}
void MainForm::dirpopup_del_Click()
{
    m_boxes->dirpopup_del_Click(*this);
}
void MainForm::dirpopup_mod_Click()
{
    m_boxes->dirpopup_mod_Click(*this);
}
void MainForm::Exl_copy0_Click()
{
    m_spreadsheetExport->Exl_copy0_Click(*this);
}
void MainForm::Exl_copy1_Click()
{
    m_spreadsheetExport->Exl_copy1_Click(*this);
}
void MainForm::Exl_copy2_Click()
{
    m_spreadsheetExport->Exl_copy2_Click(*this);
}
void MainForm::Clip_Past_Click()
{
    m_pasteArea->Clip_Past_Click(*this);
}
void MainForm::Clip_Clear_Click()
{
    m_pasteArea->Clip_Clear_Click(*this);
}
void MainForm::Clip_Save1_Click()
{
    m_pictureSaving->Clip_Save1_Click(*this);
}
void MainForm::Clip_Save2_Click()
{
    m_pictureSaving->Clip_Save2_Click(*this);
}
void MainForm::LEAD2_MouseButton(Qt::MouseButton button)
{
    m_pasteArea->LEAD2_MouseButton(*this, button);
}

} // namespace ztv
