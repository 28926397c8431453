// A seeded random walk through the real main window: clicks and keys on thumbnails and tree
// nodes, page changes, tab switches and round trips, box and file operations (also right after
// a transfer), transfers with the chooser left open, clipboard, paste and saves, and files
// added, rewritten, replaced and removed behind the program's back; a second walk keeps the
// storage root on another file system than the home folder, a third on a slow FUSE share. After every event
// each tab's display, choice and drawn selection must agree, every thumbnail made shows its file's picture,
// the page selector counts the listing, a picture copied to the clipboard has its file's size, a box button
// changed only the folder the vault tree marked, no file on disk changed but the one the acting tab showed,
// and every file that left the storage root lies in a trash with a record of its path; a file
// leaves a medium only when its exact bytes are in the vault. Box keys
// are given and pressed, and steps undone and redone (with what they may move in the check), also
// refused and by a second window's journal on the same home, the journal's order checked. A drag
// started on a thumbnail outside the choice and dropped on a box must file that file alone.
// ZTV_WALK_SEED replays a walk, ZTV_WALK_EVENTS sets its length.
#include "CardImage.h"
#include "DelayFsMount.h"
#include "Fakes.h"
#include "MountNamespace.h"
#include "ScriptedSaveDialog.h"
#include "StorageBuilder.h"
#include "capture/PictureSaving.h"
#include "capture/SaveSelect.h"
#include "display/BrowsingArea.h"
#include "display/PictureDrag.h"
#include "display/PreviewForm.h"
#include "filing/CardImport.h"
#include "filing/Journal.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FilingCommands.h"
#include "mainwindow/MainForm.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QDrag>
#include <QDropEvent>
#include <QImageReader>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <fcntl.h>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;

namespace {

// Answers every question at random, as a user clicking through would.
class RandomPrompts : public Prompts {
public:
    explicit RandomPrompts(QRandomGenerator& rng)
        : m_rng(rng)
    {
    }
    PromptAnswer message(const QString&, const QString&, PromptIcon, PromptButtons buttons) override
    {
        if (buttons == PromptButtons::Ok)
            return PromptAnswer::Ok;
        return m_rng.bounded(4) == 0 ? PromptAnswer::Cancel : PromptAnswer::Ok;
    }
    QString input(const QString&, const QString&, const QString&) override
    {
        static const QStringList answers { QString(), QStringLiteral("新しい箱"), QStringLiteral("旅行"),
            QStringLiteral("../外"), QStringLiteral("a/b"), QStringLiteral("写真"), QStringLiteral("top1"),
            QStringLiteral("名前%1"), QStringLiteral(".png") };
        QString answer = answers.at(int(m_rng.bounded(answers.size())));
        return answer.contains(u'%') ? answer.arg(m_rng.bounded(1000)) : answer;
    }

private:
    QRandomGenerator& m_rng;
};

struct FileState {
    QString path;
    QByteArray hash;
};

QString g_noNamespace; // why the process has no mount namespace of its own; "" when it has

// Every regular file under the folders, by inode; not those of a file system mounted below one
// (a card image's, checked by its image's bytes: its inode numbers are its own).
// A file deleted on a FUSE share while a reader still had it open (a worker of the program at
// work on it) stays under a .fuse_hidden name until that reader closes it: not read here (that
// would hold it open again), and looked for again until it went (a hang guard only). A name that
// stays is scanned, for the checks to name it.
QHash<quint64, FileState> scan(const QStringList& roots)
{
    const QDeadlineTimer guard(30000);
    for (;;) {
        QHash<quint64, FileState> files;
        bool hidden = false;
        for (const QString& root : roots) {
            struct stat top { };
            if (!statPath(root, &top))
                continue;
            QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                if (it.fileName().startsWith(QLatin1String(".fuse_hidden")) && !guard.hasExpired()) {
                    hidden = true;
                    continue;
                }
                struct stat st { };
                if (!statPath(path, &st) || st.st_dev != top.st_dev)
                    continue;
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly))
                    continue;
                files.insert(quint64(st.st_ino),
                    { path, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5) });
            }
        }
        if (!hidden)
            return files;
        QTest::qWait(20);
    }
}

std::optional<quint64> inodeOf(const std::optional<PictureChoice>& choice)
{
    if (!choice)
        return std::nullopt;
    return choice->identity.inode;
}

// The colour a picture shows, flattened on white: the walk's pictures are each one colour.
QColor meanColour(const QImage& image)
{
    if (image.isNull())
        return QColor();
    QImage small = image.scaled(8, 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32);
    double r = 0, g = 0, b = 0;
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x) {
            const QColor c = small.pixelColor(x, y);
            const double a = c.alphaF();
            r += c.red() * a + 255 * (1 - a);
            g += c.green() * a + 255 * (1 - a);
            b += c.blue() * a + 255 * (1 - a);
        }
    const double n = small.width() * small.height();
    return QColor(int(r / n), int(g / n), int(b / n));
}

bool sameColour(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 40 && std::abs(a.green() - b.green()) <= 40
        && std::abs(a.blue() - b.blue()) <= 40;
}

// The size of a file's picture as it stands upright.
QSize uprightSize(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    return size;
}

// Every folder below root as a tree path under top ("保管庫/旅行/京都").
QSet<QString> folders(const QString& root, const QString& top)
{
    QSet<QString> out;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out.insert(top + it.next().mid(root.size()));
    return out;
}

bool within(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

class Walk {
public:
    // otherFileSystem: the storage root lies on another file system than the home folder (and
    // its trash), here a tmpfs reached through "My Documents".
    // cardImage: the camera card is a FAT image mounted through FUSE (CardImage); the caller
    // checks cardFailed.
    explicit Walk(quint32 seed, const QString& otherFileSystem = QString(), bool cardImage = false)
        : rng(seed)
        , prompts(rng)
        , home(otherFileSystem.isEmpty())
    {
        if (!otherFileSystem.isEmpty()) {
            QDir(otherFileSystem).mkpath(QStringLiteral("ZTV_DATA/ストックヤード"));
            QDir(otherFileSystem).mkpath(QStringLiteral("ZTV_DATA/保管庫"));
            QFile::link(otherFileSystem, home.home() + QStringLiteral("/My Documents"));
        }
        drives.envHome = home.home();
        drives.devices = { QStringLiteral("/dev/sr0") };
        drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
        spreadsheet.info
            = Spreadsheet::Info { QStringLiteral("7.4.7.2"), QStringLiteral("/usr/lib/libreoffice/program") };
        const QString v = QStringLiteral("My Documents/ZTV_DATA/保管庫/");
        const QString s = QStringLiteral("My Documents/ZTV_DATA/ストックヤード/");
        home.write(v + QStringLiteral("top1.png"), pictures::png({ 40, 30 }, Qt::cyan));
        home.write(v + QStringLiteral("top2.jpg"), pictures::jpeg({ 30, 40 }, Qt::blue));
        for (int i = 0; i < 4; ++i)
            home.write(v + QStringLiteral("旅行/t%1.jpg").arg(i),
                pictures::jpeg({ 40 + i, 30 }, QColor::fromHsv(i * 60, 200, 200)));
        home.write(v + QStringLiteral("旅行/京都/k.png"), pictures::png({ 20, 20 }, Qt::magenta));
        home.makeDir(v + QStringLiteral("空箱"));
        // Wider than the display shows pictures: the clipboard must still get all of it.
        home.write(v + QStringLiteral("旅行/wide.png"), pictures::png({ 2600, 12 }, Qt::darkYellow));
        for (int i = 0; i < 30; ++i)
            home.write(s + QStringLiteral("s%1.png").arg(i, 2, 10, QLatin1Char('0')),
                pictures::png({ 16 + i, 16 }, QColor::fromHsv(i * 11, 180, 220)));
        home.write(s + QStringLiteral("箱/x.jpg"), pictures::jpeg({ 24, 24 }, Qt::green));
        writeDisc(QStringLiteral("cd1.jpg"), pictures::jpeg({ 32, 24 }, Qt::red));
        writeDisc(QStringLiteral("cd2.png"), pictures::png({ 24, 32 }, Qt::yellow));
        writeDisc(QStringLiteral("フォルダ/cd3.jpg"), pictures::jpeg({ 28, 28 }, Qt::darkRed));
        // A camera card, plugged in at start, and a phone, pulled until a medium event.
        const QString card = mediaPlaces.filePath(QStringLiteral("CANON_SD"));
        const QString phone = mediaPlaces.filePath(QStringLiteral(".pulled-Pixel 8"));
        auto put = [](const QString& path, const QByteArray& bytes) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(bytes);
        };
        for (int i = 0; i < 6; ++i) {
            const QByteArray bytes = pictures::jpeg({ 30 + i, 22 }, QColor::fromHsv(i * 50, 160, 200));
            put(card + QStringLiteral("/DCIM/100CANON/IMG_%1.JPG").arg(i), bytes);
            // Half of the card is filed already: "保管済みの画像をメディアから削除…" may take those.
            if (i % 2 == 0)
                home.write(v + QStringLiteral("カード/IMG_%1.JPG").arg(i), bytes);
        }
        QDir(card).mkpath(QStringLiteral(".thumbnails"));
        for (int i = 0; i < 3; ++i)
            put(phone + QStringLiteral("/DCIM/Camera/PXL_%1.jpg").arg(i),
                pictures::jpeg({ 22, 30 + i }, QColor::fromHsv(300 - i * 40, 200, 180)));
        if (cardImage) {
            cardFailed = cardImageOf.make(card, mediaPlaces.filePath(QStringLiteral(".images/CANON_SD.img")));
            cardOnImage = cardFailed.isEmpty();
        }
        media.list.append(
            { QStringLiteral("m0"), card, QStringLiteral("CANON_SD"), QString(), QString(), false, false });

        form = std::make_unique<MainForm>(services);
        form->setMenuOpener([this](QMenu* menu) { lastMenu = menu->objectName(); });
        form->setQuitHandler([] {});
        auto dialog = std::make_unique<ScriptedSaveDialog>();
        saveDialog = dialog.get();
        form->setSaveDialog(std::move(dialog));
        form->show();
        form->Form_Load();
        for (Area a : kAreas)
            QObject::connect(form->area(a).LEADThumb1(), &ThumbnailBrowser::ThumbnailReady,
                [this](const QImage& bitmap, const QString& path, int status) {
                    if (status == ThumbnailResult::Made)
                        made.append({ path, meanColour(bitmap) });
                });
    }

    void writeDisc(const QString& name, const QByteArray& bytes)
    {
        const QString path = disc.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    // One user event; its name goes to the log. Every 40 events the walk goes to a storage tab,
    // chooses a picture there (every other time all of the page), opens the chooser where none
    // is open, presses a file button, then files through the chooser, so that a short walk
    // reaches the operations whatever its seed.
    QString step(int index)
    {
        switch (index % 40) {
        case 0:
            return index > 0 && form->vaultTransfer().chooser() ? chooserEvent(Chooser::File) : step();
        case 36:
            form->SSTab1()->setCurrentIndex(1 + int(rng.bounded(2)));
            return QStringLiteral("tab %1").arg(form->SSTab1()->currentIndex());
        case 37:
            return clickThumbnail();
        case 38:
            if (index % 80 == 78) {
                QAbstractItemView* view = form->area(*form->currentArea()).LEADImgList1()->view();
                view->setFocus();
                QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
                return QStringLiteral("key Ctrl+A on thumbnails");
            }
            return form->vaultTransfer().chooser() ? step() : chooserEvent(Chooser::Open);
        case 39:
            return fileButton();
        default:
            return step();
        }
    }

    QString step()
    {
        using Action = std::pair<int, std::function<QString()>>;
        const std::optional<Area> current = form->currentArea();
        const std::vector<Action> actions {
            { 20, [&] { return clickThumbnail(); } },
            { 10, [&] { return keyOnThumbnails(); } },
            { 12, [&] { return chooseSeveral(); } },
            { 12, [&] { return clickTreeNode(); } },
            { 10, [&] { return keyOnTree(); } },
            { 4, [&] { return changePage(); } },
            { 8, [&] { return switchTab(); } },
            { 3, [&] { return tabRoundTrip(); } },
            { 6, [&] { return fileButton(); } },
            { 5, [&] { return menuItem(); } },
            { 4, [&] { return boxOperation(); } },
            { 5, [&] { return chooserEvent(); } },
            { 5, [&] { return dropEvent(); } },
            { 3, [&] { return dragUnchosenEvent(); } },
            { 3, [&] { return pasteEvent(); } },
            { 2, [&] { return saveEvent(); } },
            { 2, [&] { return previewEvent(); } },
            { 4, [&] { return outsideChange(); } },
            { 4, [&] { return boxKeyEvent(); } },
            { 4, [&] { return undoRedoEvent(); } },
            { 1, [&] { return refusedUndoEvent(); } },
            { 2, [&] { return otherWindowEvent(); } },
            { mediumWeight, [&] { return mediumEvent(); } },
            { 2, [&] { return mediumDeleteEvent(); } },
            { 2, [&] { return importEvent(); } },
        };
        Q_UNUSED(current);
        int total = 0;
        for (const Action& a : actions)
            total += a.first;
        int pick = int(rng.bounded(total));
        for (const Action& a : actions) {
            if (pick < a.first)
                return a.second();
            pick -= a.first;
        }
        return QString();
    }

    // The acting file(s) of an event: the current tab's choice, and for a chooser press also
    // the choice on the tab the transfer came from.
    QSet<quint64> mayChange;

    QString clickThumbnail()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("click thumbnail: paste tab");
        ThumbnailList* list = form->area(*a).LEADImgList1();
        const int count = list->ThumbnailCount();
        if (count == 0)
            return QStringLiteral("click thumbnail: empty page");
        const int top = std::max(0, list->topItem());
        const int item = std::min(count - 1, top + int(rng.bounded(ThumbnailList::ItemsPerPage)));
        QAbstractItemView* view = list->view();
        const QRect r = view->visualRect(view->model()->index(item, 0));
        const bool right = rng.bounded(5) == 0;
        QTest::mouseClick(view->viewport(), right ? Qt::RightButton : Qt::LeftButton, {}, r.center());
        return QStringLiteral("%1 click on thumbnail %2").arg(right ? "right" : "left").arg(item);
    }

    // Ctrl and Shift clicks (the page shown or another), Ctrl+A, Esc and Shift with an arrow.
    QString chooseSeveral()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("choose several: paste tab");
        ThumbnailList* list = form->area(*a).LEADImgList1();
        const int count = list->ThumbnailCount();
        if (count == 0)
            return QStringLiteral("choose several: empty page");
        QAbstractItemView* view = list->view();
        switch (rng.bounded(5)) {
        case 0:
        case 1: {
            const Qt::KeyboardModifier held = rng.bounded(2) ? Qt::ControlModifier : Qt::ShiftModifier;
            const int top = std::max(0, list->topItem());
            const int item = std::min(count - 1, top + int(rng.bounded(ThumbnailList::ItemsPerPage)));
            const QRect r = view->visualRect(view->model()->index(item, 0));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, held, r.center());
            return QStringLiteral("%1 click on thumbnail %2")
                .arg(held == Qt::ControlModifier ? "ctrl" : "shift")
                .arg(item);
        }
        case 2: {
            // Shift on an item of any page, as after scrolling there.
            const int item = int(rng.bounded(count));
            form->area(*a).LEADImgList1_ClickWith(item, Qt::ShiftModifier);
            return QStringLiteral("shift choice to thumbnail %1").arg(item);
        }
        default: {
            static const QKeyCombination keys[]
                = { Qt::ControlModifier | Qt::Key_A, QKeyCombination(Qt::Key_Escape),
                      Qt::ShiftModifier | Qt::Key_Right, Qt::ShiftModifier | Qt::Key_Down };
            const QKeyCombination key = keys[rng.bounded(int(std::size(keys)))];
            view->setFocus();
            QTest::keyClick(view, key.key(), key.keyboardModifiers());
            return QStringLiteral("key %1 on thumbnails").arg(QKeySequence(key).toString());
        }
        }
    }

    QString keyOnThumbnails()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("thumbnail keys: paste tab");
        static const Qt::Key keys[] = { Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Return,
            Qt::Key_Return, Qt::Key_Menu, Qt::Key_PageDown, Qt::Key_Home };
        const Qt::Key key = keys[rng.bounded(int(std::size(keys)))];
        QWidget* view = form->area(*a).LEADImgList1()->view();
        view->setFocus();
        QTest::keyClick(view, key);
        return QStringLiteral("key %1 on thumbnails").arg(QKeySequence(key).toString());
    }

    QString clickTreeNode()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("click node: paste tab");
        FolderTree* tree = form->area(*a).TreeView1();
        QList<QTreeWidgetItem*> shown;
        for (QTreeWidgetItem* node : tree->allNodes())
            if (!tree->visualItemRect(node).isEmpty())
                shown << node;
        if (shown.isEmpty())
            return QStringLiteral("click node: none shown");
        QTreeWidgetItem* node = shown.at(int(rng.bounded(shown.size())));
        const bool right = rng.bounded(4) == 0;
        const QString path = tree->treePath(node);
        QTest::mouseClick(tree->viewport(), right ? Qt::RightButton : Qt::LeftButton, {},
            tree->visualItemRect(node).center());
        return QStringLiteral("%1 click on node %2").arg(right ? "right" : "left", path);
    }

    QString keyOnTree()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("tree keys: paste tab");
        static const Qt::Key keys[]
            = { Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Return, Qt::Key_Menu };
        const Qt::Key key = keys[rng.bounded(int(std::size(keys)))];
        FolderTree* tree = form->area(*a).TreeView1();
        tree->setFocus();
        QTest::keyClick(tree, key);
        return QStringLiteral("key %1 on tree").arg(QKeySequence(key).toString());
    }

    QString changePage()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("page: paste tab");
        QComboBox* combo = form->area(*a).Combo1();
        combo->setFocus();
        QTest::keyClick(combo, rng.bounded(2) ? Qt::Key_Down : Qt::Key_Up);
        return QStringLiteral("page key, now %1").arg(combo->currentText());
    }

    QString switchTab()
    {
        const int tab = int(rng.bounded(4));
        form->SSTab1()->setCurrentIndex(tab);
        return QStringLiteral("tab %1").arg(tab);
    }

    // Away to another tab and back, then an operation that needs the selection: it acts on
    // nothing until a thumbnail is chosen again.
    QString tabRoundTrip()
    {
        const int back = form->SSTab1()->currentIndex();
        form->SSTab1()->setCurrentIndex((back + 1 + int(rng.bounded(3))) % 4);
        form->SSTab1()->setCurrentIndex(back);
        if (form->pictureSelected())
            return QStringLiteral("FAIL: PictureSelected after a tab round trip");
        mayChange.clear();
        QList<QToolButton*> buttons;
        switch (form->currentArea().value_or(Area::Cd)) {
        case Area::Cd:
            buttons = { form->Command5(0), form->Command5(1) };
            break;
        case Area::StockYard:
            buttons = { form->Command3(0), form->Command3(1), form->Command3(2) };
            break;
        case Area::Vault:
            buttons = { form->Command4(3), form->Command4(4), form->Command4(5) };
            break;
        }
        QToolButton* b = buttons.at(int(rng.bounded(buttons.size())));
        const bool chooserBefore = form->vaultTransfer().chooser();
        b->click();
        if (!chooserBefore && form->vaultTransfer().chooser())
            return QStringLiteral("FAIL: the chooser opened after a tab round trip");
        return QStringLiteral("round trip to tab %1, then %2").arg(back).arg(b->objectName());
    }

    QString fileButton()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("file button: paste tab");
        QList<QToolButton*> buttons;
        switch (*a) {
        case Area::Cd:
            buttons = { form->Command5(1) }; // the transfer goes through chooserEvent
            break;
        case Area::StockYard:
            buttons = { form->Command3(1), form->Command3(2) };
            break;
        case Area::Vault:
            buttons = { form->Command4(3), form->Command4(4), form->Command4(5) };
            break;
        }
        QToolButton* b = buttons.at(int(rng.bounded(buttons.size())));
        b->click();
        return QStringLiteral("button %1").arg(b->objectName());
    }

    QString menuItem()
    {
        const QList<QAction*> items { form->R_Del(), form->R_Clip_Copy(), form->RF_Del(), form->RF_Mod(),
            form->RF_Clip_Copy(), form->RCD_Clip_Copy(), form->Exl_copy0(), form->Exl_copy1(),
            form->Exl_copy2() };
        QAction* item = items.at(int(rng.bounded(items.size())));
        item->trigger();
        return QStringLiteral("menu item %1").arg(item->objectName());
    }

    // A box button, and on disk the folders it changed: only the one the vault tree marks (and
    // what it holds), or nothing while the button's folder is not the marked one.
    QString boxOperation()
    {
        if (form->currentArea() != Area::Vault)
            return QStringLiteral("box: not the vault");
        const int i = int(rng.bounded(3));
        const BrowsingArea& vault = form->area(Area::Vault);
        const QString marked = vault.TreeView1()->markedPath();
        const bool acts = vault.CurrentNodePath() == marked;
        const QString top = QString::fromUtf16(kVaultName);
        const QSet<QString> before = folders(home.vault(), top);
        form->Command4(i)->click();
        const QSet<QString> after = folders(home.vault(), top);
        const QSet<QString> added = after - before;
        const QSet<QString> removed = before - after;
        const QString what
            = QStringLiteral("box button %1 on %2").arg(form->Command4(i)->objectName(), marked);
        if ((!added.isEmpty() || !removed.isEmpty()) && !acts)
            return QStringLiteral("FAIL: %1 changed folders while the tree marks another").arg(what);
        const QString parent = marked.left(marked.lastIndexOf(u'/'));
        for (const QString& folder : added) {
            const bool ok = i == 0 ? folder.left(folder.lastIndexOf(u'/')) == marked
                                   : i == 2 && folder.startsWith(parent + u'/') && !removed.isEmpty();
            if (!ok)
                return QStringLiteral("FAIL: %1 made %2").arg(what, folder);
        }
        for (const QString& folder : removed)
            if (i == 0 || !within(folder, marked))
                return QStringLiteral("FAIL: %1 removed %2").arg(what, folder);
        return what;
    }

    // forced: Open opens the chooser where none is, File presses its file button.
    enum class Chooser { Any, Open, File };
    QString chooserEvent(Chooser forced = Chooser::Any)
    {
        SetFolder* chooser = form->vaultTransfer().chooser();
        if (!chooser || forced == Chooser::Open || (forced == Chooser::Any && rng.bounded(3) == 0)) {
            const std::optional<Area> a = form->currentArea();
            if (a == Area::Cd) {
                form->Command5(0)->click();
                return QStringLiteral("CD: copy to the vault");
            }
            if (a == Area::StockYard) {
                form->Command3(0)->click();
                return QStringLiteral("stock yard: move to the vault");
            }
            return QStringLiteral("chooser: none");
        }
        if (forced == Chooser::Any && rng.bounded(2)) {
            const QList<QTreeWidgetItem*> nodes = chooser->TreeView1->allNodes();
            QTreeWidgetItem* node = nodes.at(int(rng.bounded(nodes.size())));
            if (node->parent())
                chooser->TreeView1->expandItem(node->parent());
            QTest::mouseClick(chooser->TreeView1->viewport(), Qt::LeftButton, {},
                chooser->TreeView1->visualItemRect(node).center());
            return QStringLiteral("chooser: node %1").arg(chooser->TreeView1->treePath(node));
        }
        const bool file = forced == Chooser::File || rng.bounded(4) != 0;
        const VaultTransfer& t = form->vaultTransfer();
        if (file && t.chooserRequest() && t.chooserRequest()->source) {
            const Area source = *t.chooserRequest()->source;
            if (const auto inode = inodeOf(form->area(source).TabSelection()))
                mayChange.insert(*inode);
            for (const PictureChoice& c : form->area(source).Chosen())
                if (const auto inode = inodeOf(c))
                    mayChange.insert(*inode);
        }
        chooser->Command1[file ? 0 : 1]->click();
        QString then;
        if (file && form->currentArea() == Area::Vault && rng.bounded(2))
            then = QStringLiteral(", then ") + boxOperation();
        else if (file && rng.bounded(2)) {
            form->SSTab1()->setCurrentIndex(2);
            then = QStringLiteral(", then ") + boxOperation();
        }
        return QStringLiteral("chooser: %1%2").arg(file ? "file it" : "cancel", then);
    }

    // A key given to the box the vault tree marks (or freed), or a digit pressed on thumbnails,
    // which files the choice (already in mayChange) into that key's box.
    QString boxKeyEvent()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("box key: paste tab");
        if (a == Area::Vault && rng.bounded(3) == 0) {
            const int key = int(rng.bounded(4));
            form->filingCommands().BoxKey(key)->trigger();
            return QStringLiteral("box key %1 given to %2")
                .arg(key)
                .arg(form->area(Area::Vault).TreeView1()->markedPath());
        }
        const int key = 1 + int(rng.bounded(3));
        QAbstractItemView* view = form->area(*a).LEADImgList1()->view();
        view->setFocus();
        QTest::keyClick(view, Qt::Key(Qt::Key_0 + key));
        return QStringLiteral("box key %1 pressed").arg(key);
    }

    // Any file a kept step moved may move again.
    void mayChangeJournalFiles()
    {
        for (const JournalStep& s : form->journal()->steps())
            for (const JournalEntry& e : s.entries)
                for (const QString& place : { e.from, e.to }) {
                    struct stat st { };
                    if (!place.isEmpty() && statPath(place, &st))
                        mayChange.insert(quint64(st.st_ino));
                }
    }

    // The files of the next step to undo renamed behind the program's back: the undo is
    // refused, the step marked and passed over, the renamed files left where they are.
    QString refusedUndoEvent()
    {
        FilingJournal* journal = form->journal();
        const qint64 id = journal->undoStep();
        const auto step = std::find_if(journal->steps().cbegin(), journal->steps().cend(),
            [id](const JournalStep& s) { return s.id == id; });
        if (step == journal->steps().cend() || step->kind == JournalStep::Kind::Delete
            || step->kind >= JournalStep::Kind::BoxAdd)
            return QStringLiteral("no refused undo: no file step");
        QStringList renamed;
        for (const JournalEntry& e : step->entries)
            if (e.applied && QFile::rename(e.to, e.to + QStringLiteral(".外")))
                renamed << e.to + QStringLiteral(".外");
        mayChangeJournalFiles();
        form->filingCommands().Undo()->trigger();
        const auto after = std::find_if(journal->steps().cbegin(), journal->steps().cend(),
            [id](const JournalStep& s) { return s.id == id; });
        if (after != journal->steps().cend() && after->state == JournalStep::State::Done && !after->blocked)
            return QStringLiteral("FAIL: the refused undo of step %1 left it to be refused again").arg(id);
        if (journal->undoStep() == id)
            return QStringLiteral("FAIL: step %1 is still the next undo").arg(id);
        for (const QString& r : std::as_const(renamed))
            if (!QFileInfo::exists(r))
                return QStringLiteral("FAIL: the refused undo moved %1").arg(r);
        return QStringLiteral("refused undo: step %1 passed over").arg(id);
    }

    // A second window on the same home (its own journal on the same file) undoes, redoes or
    // adds a box; both then read one history, ids unique.
    QString otherWindowEvent()
    {
        if (!other) {
            other = std::make_unique<FilingJournal>(realFileOps(), FilingJournal::defaultFolder());
            other->setStorageRoot(home.storageRoot());
        }
        mayChangeJournalFiles();
        QString what;
        if (const int pick = int(rng.bounded(3)); pick == 0) {
            const QString box = home.vault() + QStringLiteral("/窓%1").arg(rng.bounded(1000));
            const qint64 id = other->begin(JournalStep::Kind::BoxAdd, { { box, {}, {}, {}, {}, false } });
            QDir().mkdir(box);
            other->finish(id, { { box, {}, {}, FilingJournal::folderIdentityAt(box), {}, true } });
            what = QStringLiteral("other window: box added");
        } else {
            const JournalOutcome out = pick == 1 ? other->undo() : other->redo();
            what = QStringLiteral("other window: %1 %2").arg(pick == 1 ? "undo" : "redo").arg(out.done);
        }
        form->journal()->refresh();
        other->refresh();
        const QList<JournalStep>& mine = form->journal()->steps();
        const QList<JournalStep>& theirs = other->steps();
        for (qsizetype i = 0; i < std::max(mine.size(), theirs.size()); ++i)
            if (i >= mine.size() || i >= theirs.size() || mine[i].id != theirs[i].id
                || mine[i].state != theirs[i].state)
                return QStringLiteral("FAIL: the two windows' journals differ at %1").arg(i);
        return what;
    }

    // The journal after an event: ids unique and rising, a new step ends every redo, and a
    // redo takes back the last undo.
    QString journalCheck()
    {
        FilingJournal* journal = form->journal();
        journal->refresh();
        QHash<qint64, JournalStep::State> now;
        qint64 last = 0;
        bool newStep = false;
        for (const JournalStep& s : journal->steps()) {
            if (s.id <= last)
                return QStringLiteral("journal step %1 after %2").arg(s.id).arg(last);
            last = s.id;
            now.insert(s.id, s.state);
            newStep = newStep || (s.id > lastSeen && s.state == JournalStep::State::Done);
        }
        if (newStep) {
            undoneOrder.clear();
            if (journal->canRedo())
                return QStringLiteral("a step to redo is left after a new step");
        }
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            const auto was = seen.constFind(it.key());
            if (was == seen.cend())
                continue;
            if (*was == JournalStep::State::Done && *it == JournalStep::State::Undone)
                undoneOrder << it.key();
            if (*was == JournalStep::State::Undone && *it == JournalStep::State::Done) {
                if (undoneOrder.isEmpty() || undoneOrder.last() != it.key())
                    return QStringLiteral("redo took back step %1, not the last undo").arg(it.key());
                undoneOrder.removeLast();
            }
        }
        for (const JournalStep& s : journal->steps())
            if (s.blocked || !s.redoable)
                undoneOrder.removeAll(s.id);
        seen = now;
        lastSeen = std::max(lastSeen, last);
        return QString();
    }

    // Undo or redo, by the key or the menu item: any file a kept step moved may move again.
    QString undoRedoEvent()
    {
        mayChangeJournalFiles();
        const auto undone = [this] {
            const QList<JournalStep>& steps = form->journal()->steps();
            return std::count_if(steps.cbegin(), steps.cend(),
                [](const JournalStep& s) { return s.state == JournalStep::State::Undone; });
        };
        const auto before = undone();
        const bool undo = rng.bounded(3) != 0;
        QString what;
        if (rng.bounded(2)) {
            (undo ? form->filingCommands().Undo() : form->filingCommands().Redo())->trigger();
            what = QStringLiteral("undo-redo: %1 item").arg(undo ? "undo" : "redo");
        } else {
            form->activateWindow();
            QTest::keyClick(form.get(), undo ? Qt::Key_Z : Qt::Key_Y, Qt::ControlModifier);
            what = QStringLiteral("undo-redo: %1 key").arg(undo ? "Ctrl+Z" : "Ctrl+Y");
        }
        if (undone() != before)
            ++stepsTakenBackOrRedone;
        return what;
    }

    // A drag of the tab's chosen thumbnails onto a box of the vault tab's tree or of the
    // chooser's, sometimes with Ctrl, or onto a tree that refuses it; or another program's file
    // dropped onto a box, which is only copied. The events a drag sends, at the node's row.
    QString dropEvent()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("drop: paste tab");
        std::unique_ptr<QMimeData> data;
        const bool outside = rng.bounded(5) == 0;
        if (outside) {
            const QStringList files = form->area(*a).HiddenList();
            if (files.isEmpty())
                return QStringLiteral("drop: nothing listed");
            data = std::make_unique<QMimeData>();
            data->setUrls({ fileUrl(files.at(int(rng.bounded(files.size())))) });
            mayChange.clear(); // another program's file is only read
        } else {
            data.reset(form->area(*a).LEADImgList1()->dragData());
            if (!data)
                return QStringLiteral("drop: nothing to drag");
        }
        const Qt::KeyboardModifiers keys = rng.bounded(3) == 0 ? Qt::ControlModifier : Qt::NoModifier;
        SetFolder* chooser = form->vaultTransfer().chooser();
        const int kind = int(rng.bounded(4));
        const bool refused = kind == 3;
        FolderTree* tree = nullptr;
        if (kind == 0 && chooser) {
            tree = chooser->TreeView1;
        } else if (refused) {
            tree = form->area(rng.bounded(2) ? Area::Cd : Area::StockYard).TreeView1();
            mayChange.clear();
        } else {
            form->SSTab1()->setCurrentIndex(2);
            tree = form->area(Area::Vault).TreeView1();
        }
        const QList<QTreeWidgetItem*> nodes = tree->allNodes();
        if (nodes.isEmpty())
            return QStringLiteral("drop: empty tree");
        QTreeWidgetItem* node = nodes.at(int(rng.bounded(nodes.size())));
        for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
            tree->expandItem(p);
        tree->scrollToItem(node);
        const QPoint at = tree->visualItemRect(node).center();
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, keys);
        QApplication::sendEvent(tree->viewport(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction, data.get(), Qt::LeftButton, keys);
        QApplication::sendEvent(tree->viewport(), &move);
        QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, keys);
        QApplication::sendEvent(tree->viewport(), &drop);
        QCoreApplication::processEvents();
        const QString what
            = QStringLiteral("drop %1 onto %2 %3%4")
                  .arg(outside ? "outside" : "chosen",
                      refused ? "refusing"
                              : (tree == form->area(Area::Vault).TreeView1() ? "vault" : "chooser"),
                      tree->treePath(node), keys ? " with Ctrl" : "");
        if (refused && (move.isAccepted() || drop.isAccepted()))
            return QStringLiteral("FAIL: ") + what + QStringLiteral(" was taken");
        return what;
    }

    // A real press and move on a thumbnail outside the tab's choice: what the drag carries
    // (copied while it runs, then cancelled); null when no drag started.
    std::unique_ptr<QMimeData> dragFromThumbnail(QAbstractItemView* view, int row)
    {
        QWidget* viewport = view->viewport();
        const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
        std::unique_ptr<QMimeData> carried;
        bool ran = false;
        bool released = false;
        const QObject probe; // no look outlives this call
        // The move chooses the thumbnail first, and its picture's decode on a slow disk lets
        // events run before the drag starts: looked at again until the release was sent.
        std::function<void()> look = [&] {
            const QList<QDrag*> drags = view->findChildren<QDrag*>();
            if (drags.isEmpty() || !drags.last()->mimeData()) {
                if (released)
                    ran = true;
                else
                    QTimer::singleShot(0, &probe, look);
                return;
            }
            ran = true;
            carried = std::make_unique<QMimeData>();
            for (const QString& format : drags.last()->mimeData()->formats())
                carried->setData(format, drags.last()->mimeData()->data(format));
            QDrag::cancel();
        };
        QTimer::singleShot(0, &probe, look);
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        const QPoint to = at + QPoint(QApplication::startDragDistance() + 4, 0);
        for (const QPoint& p : { to, to + QPoint(4, 0) }) {
            QMouseEvent move(
                QEvent::MouseMove, p, viewport->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(viewport, &move);
        }
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
        released = true;
        // Where no drag ran, the copy comes with the next events; a hang guard only.
        QDeadlineTimer guard(30000);
        while (!ran && !guard.hasExpired())
            QTest::qWait(5);
        return carried;
    }

    // With a choice on the tab, a drag started on a thumbnail outside it and dropped on a box of
    // the vault: it chooses that thumbnail and carries it alone, and the disk afterwards holds
    // it filed into that box (moved, or copied) or, refused or cancelled, nothing changed at all.
    QString dragUnchosenEvent()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("no drag unchosen: paste tab");
        BrowsingArea& tab = form->area(*a);
        ThumbnailList* list = tab.LEADImgList1();
        const int count = list->ThumbnailCount();
        if (count == 0)
            return QStringLiteral("no drag unchosen: empty page");
        const int top = std::max(0, list->topItem());
        if (tab.chosenCount() == 0)
            tab.LEADImgList1_Click(std::min(count - 1, top + int(rng.bounded(ThumbnailList::ItemsPerPage))));
        QAbstractItemView* view = list->view();
        QList<int> outside;
        for (int row = top; row < std::min(count, top + ThumbnailList::ItemsPerPage); ++row)
            if (!list->selectedItems().contains(row)
                && view->viewport()->rect().contains(view->visualRect(view->model()->index(row, 0)).center()))
                outside << row;
        if (tab.chosenCount() == 0 || outside.isEmpty())
            return QStringLiteral("no drag unchosen: nothing chosen, or nothing else shown");
        const int row = outside.at(int(rng.bounded(outside.size())));
        const QString file = tab.HiddenList().value(row);
        const QHash<quint64, FileState> before = scan(roots());
        struct stat st { };
        const bool listed = statPath(file, &st);
        const quint64 inode = quint64(st.st_ino);
        // Only the file the drag starts on may move.
        mayChange.clear();
        if (listed)
            mayChange.insert(inode);
        std::unique_ptr<QMimeData> data = dragFromThumbnail(view, row);
        const QString what = QStringLiteral("drag unchosen %1").arg(row);
        // A file on the card image: fusefat's file numbers need not hold from one look to the
        // next, so the program may find it changed and rightly drag nothing.
        const bool onCardImage = cardOnImage && file.startsWith(cardImageOf.mountPoint + u'/');
        if (!data) {
            // A file gone behind the program's back is not chosen, and so not dragged.
            if (listed && !onCardImage)
                return QStringLiteral("FAIL: %1: no drag started").arg(what);
            return QStringLiteral("no drag unchosen: %1 gone").arg(file);
        }
        const std::optional<PictureDrag> drag = PictureDrag::readFrom(*data);
        if (!drag || drag->files.size() != 1 || drag->files.first().path != file)
            return QStringLiteral("FAIL: %1 did not carry %2 alone").arg(what, file);
        if (tab.chosenCount() != 1 || tab.TabSelection()->path != file)
            return QStringLiteral("FAIL: %1 did not choose %2 alone").arg(what, file);

        form->SSTab1()->setCurrentIndex(2);
        FolderTree* tree = form->area(Area::Vault).TreeView1();
        const QList<QTreeWidgetItem*> nodes = tree->allNodes();
        if (nodes.isEmpty())
            return what + QStringLiteral(", vault tree empty");
        QTreeWidgetItem* node = nodes.at(int(rng.bounded(nodes.size())));
        for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
            tree->expandItem(p);
        tree->scrollToItem(node);
        const QString box = tree->treePath(node);
        const QString into = home.vault() + box.mid(QString::fromUtf16(kVaultName).size()) + u'/'
            + QFileInfo(file).fileName();
        const QPoint at = tree->visualItemRect(node).center();
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &move);
        QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &drop);
        QCoreApplication::processEvents();

        // The disk: the dragged file moved to the box, or copied there with its bytes; every
        // other file where and as it was.
        const QString onto = QStringLiteral("%1 onto %2").arg(what, box);
        const QHash<quint64, FileState> after = scan(roots());
        QByteArray hash = before.value(inode).hash;
        if (onCardImage) { // the scan leaves out a file system mounted below the places
            QFile f(file);
            if (f.open(QIODevice::ReadOnly))
                hash = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5);
        }
        bool filed = false;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            const auto now = after.constFind(it.key());
            if (it.key() == inode && listed && now != after.cend() && now->path == into
                && now->hash == hash) {
                filed = true;
                continue;
            }
            if (now == after.cend() || now->path != it->path || now->hash != it->hash)
                return QStringLiteral("FAIL: %1 changed %2").arg(onto, it->path);
        }
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (before.contains(it.key()))
                continue;
            if (filed || it->path != into || it->hash != hash)
                return QStringLiteral("FAIL: %1 made %2").arg(onto, it->path);
            filed = true;
        }
        unchosenFiled += filed ? 1 : 0;
        return onto + (filed ? QStringLiteral(", filed") : QStringLiteral(", nothing filed"));
    }

    QString pasteEvent()
    {
        if (rng.bounded(3) == 0) {
            form->Command1(0)->click();
            return QStringLiteral("clear pasted picture");
        }
        QImage picture(40 + int(rng.bounded(200)), 30 + int(rng.bounded(200)), QImage::Format_ARGB32);
        picture.fill(QColor::fromHsv(int(rng.bounded(360)), 200, 200, rng.bounded(2) ? 255 : 128));
        QGuiApplication::clipboard()->setImage(picture);
        form->Command1(1)->click();
        return QStringLiteral("paste %1x%2").arg(picture.width()).arg(picture.height());
    }

    QString saveEvent()
    {
        const bool gif = rng.bounded(2);
        static int saved = 0;
        const QString folder = rng.bounded(2) ? home.stockYard() : home.vault();
        SaveRequest r;
        if (rng.bounded(4) != 0) {
            r.path = folder + QStringLiteral("/保存%1.%2").arg(++saved).arg(gif ? "gif" : "png");
            r.format = gif ? formats::Gif : formats::Png;
        }
        saveDialog->answers.clear();
        saveDialog->answer(r);
        if (gif) {
            form->Command1(4)->click();
        } else {
            form->Command1(3)->click();
            if (SaveSelect* select = form->pictureSaving().saveSelect()) {
                select->Option1[2]->setChecked(true);
                select->Command1[rng.bounded(4) == 0 ? 1 : 0]->click();
                if (form->pictureSaving().saveSelect())
                    form->pictureSaving().SaveSelect_Command1_Click(*form, 1);
            }
        }
        return QStringLiteral("save %1 to %2")
            .arg(gif ? "GIF" : "PNG", r.path.isEmpty() ? QStringLiteral("(cancel)") : r.path);
    }

    QString previewEvent()
    {
        if (PreviewForm* preview = form->previewForm(); preview && rng.bounded(2)) {
            preview->close();
            return QStringLiteral("close preview");
        }
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("preview: paste tab");
        PictureDisplay* display = form->area(*a).LEAD1();
        QTest::mouseClick(display, Qt::LeftButton, {}, display->rect().center());
        return QStringLiteral("click on the display");
    }

    // Files change behind the program's back: one appears, one is rewritten or removed.
    QString outsideChange()
    {
        const auto files = scan({ home.stockYard(), home.vault() });
        switch (rng.bounded(4)) {
        case 1: {
            // Another picture under the same name and modification second, as a copy tool that
            // keeps times leaves it.
            QStringList pictures;
            for (const FileState& f : files)
                if (f.path.endsWith(QLatin1String(".png")) || f.path.endsWith(QLatin1String(".jpg")))
                    pictures << f.path;
            if (pictures.isEmpty())
                return QStringLiteral("outside: nothing to replace");
            std::sort(pictures.begin(), pictures.end());
            const QString path = pictures.at(int(rng.bounded(pictures.size())));
            struct stat st { };
            if (!statPath(path, &st))
                return QStringLiteral("outside: nothing to replace");
            mayChange.insert(quint64(st.st_ino));
            const QColor colour = QColor::fromHsv(int(rng.bounded(360)), 255, 120 + int(rng.bounded(100)));
            const QSize size(30 + int(rng.bounded(30)), 20 + int(rng.bounded(30)));
            QByteArray bytes = path.endsWith(QLatin1String(".png")) ? pictures::png(size, colour)
                                                                    : pictures::jpeg(size, colour);
            // Time and size are all a thumbnail cache can tell a file by: a size this name had
            // at that second would make the change invisible to any program, so it never recurs
            // (readers ignore what follows the picture's end).
            QSet<qint64>& had = sizesAt[{ path, qint64(st.st_mtim.tv_sec) }];
            had.insert(qint64(st.st_size));
            while (had.contains(bytes.size()))
                bytes.append('\0');
            had.insert(bytes.size());
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(bytes);
            file.close();
            const struct timespec times[2] = { st.st_atim, { st.st_mtim.tv_sec, 0 } };
            utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
            return QStringLiteral("outside: replaced %1").arg(path);
        }
        case 0: {
            static int added = 0;
            const QString path = (rng.bounded(2) ? home.stockYard() : home.vault() + QStringLiteral("/旅行"))
                + QStringLiteral("/外から%1.png").arg(++added);
            home.write(path.mid(home.home().size() + 1), pictures::png({ 22, 22 }, Qt::darkCyan));
            return QStringLiteral("outside: new %1").arg(path);
        }
        default: {
            if (files.isEmpty())
                return QStringLiteral("outside: nothing to touch");
            const auto keys = files.keys();
            const quint64 inode = keys.at(int(rng.bounded(keys.size())));
            const QString path = files.value(inode).path;
            mayChange.insert(inode);
            if (rng.bounded(2)) {
                QFile::remove(path);
                removedOutside.insert(inode);
                return QStringLiteral("outside: removed %1").arg(path);
            }
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Append))
                file.write("tail");
            return QStringLiteral("outside: rewrote %1").arg(path);
        }
        }
    }

    // "" when every tab agrees with itself and with the files it shows.
    QString invariant() const
    {
        for (Area a : kAreas) {
            const BrowsingArea& area = form->area(a);
            const QString problem = area.invariantViolation();
            if (!problem.isEmpty())
                return QStringLiteral("tab %1: %2").arg(tabIndex(a)).arg(problem);
            const int pages = PagesFor(area.LEADImgList1()->PageCount());
            // The CD tab lists nothing, and sets no selector, until a node is clicked.
            const bool neverListed
                = area.Combo1()->count() == 0 && area.LEADImgList1()->ThumbnailCount() == 0;
            if (!neverListed
                && (area.Combo1()->count() != pages || area.Label3()->text() != QString::number(pages)))
                return QStringLiteral("tab %1: the selector offers %2 pages and counts %3, the list has %4")
                    .arg(tabIndex(a))
                    .arg(area.Combo1()->count())
                    .arg(area.Label3()->text())
                    .arg(pages);
        }
        for (const auto& [path, colour] : made) {
            const QImage now(path);
            if (!now.isNull() && !sameColour(meanColour(now), colour))
                return QStringLiteral("the thumbnail of %1 shows %2, the file %3")
                    .arg(path, colour.name(), meanColour(now).name());
        }
        return QString();
    }

    // The picture on the clipboard after a copy of source: the file's own, at its size.
    QString clipboardCheck(const QString& source) const
    {
        const QImage copied = QGuiApplication::clipboard()->image();
        if (copied.isNull() || source.isEmpty())
            return QString();
        if (copied.size() != uprightSize(source))
            return QStringLiteral("the clipboard holds %1x%2 of %3, which is %4x%5")
                .arg(copied.width())
                .arg(copied.height())
                .arg(source)
                .arg(uprightSize(source).width())
                .arg(uprightSize(source).height());
        return QString();
    }

    // The top of the file system that holds the storage root, as the trash standard finds it.
    QString storageTop() const
    {
        QString top = QFileInfo(home.storageRoot()).canonicalFilePath();
        struct stat here { };
        if (!statPath(top, &here))
            return QString();
        while (top.lastIndexOf(u'/') > 0) {
            const QString up = top.left(top.lastIndexOf(u'/'));
            struct stat st { };
            if (!statPath(up, &st) || st.st_dev != here.st_dev)
                break;
            top = up;
        }
        return top;
    }

    // The trashes a deleted file may lie in, with the folder a relative record is read from.
    QList<std::pair<QString, QString>> trashes() const
    {
        const QString uid = QString::number(geteuid());
        const QString top = storageTop();
        return { { home.home() + QStringLiteral("/.local/share/Trash"), QString() },
            { top + QStringLiteral("/.Trash-") + uid, top },
            { top + QStringLiteral("/.Trash/") + uid, top } };
    }

    // Where a file that left the storage root must be: a trash of the home or of the storage
    // root's own file system, with a record of the path it had (the same file, however the
    // record reaches it).
    QString trashCheck(quint64 inode, const QString& path) const
    {
        const QString folder = QFileInfo(QFileInfo(path).path()).canonicalFilePath();
        const QString real = folder + u'/' + QFileInfo(path).fileName();
        for (const auto& [trash, top] : trashes()) {
            QDirIterator it(trash + QStringLiteral("/files"), QDir::Files | QDir::Hidden);
            while (it.hasNext()) {
                const QString entry = it.next();
                struct stat st { };
                if (!statPath(entry, &st) || quint64(st.st_ino) != inode)
                    continue;
                QFile info(trash + QStringLiteral("/info/") + it.fileName() + QStringLiteral(".trashinfo"));
                if (!info.open(QIODevice::ReadOnly))
                    return QStringLiteral("%1 is in the trash without a record").arg(path);
                QString recorded;
                for (const QByteArray& line : info.readAll().split('\n'))
                    if (line.startsWith("Path="))
                        recorded = QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(5)));
                if (!recorded.startsWith(u'/'))
                    recorded = top + u'/' + recorded;
                if (recorded != path && recorded != real)
                    return QStringLiteral("the trash record of %1 names %2").arg(path, recorded);
                return QString();
            }
        }
        return QStringLiteral("%1 left the storage root but is in no trash").arg(path);
    }

    // Takes out of a shared trash what this walk put there.
    void emptyOwnTrash(const QString& storageFolder) const
    {
        const QString name = QFileInfo(storageFolder).fileName();
        for (const auto& [trash, top] : trashes()) {
            if (top.isEmpty())
                continue;
            QDirIterator it(trash + QStringLiteral("/info"), QDir::Files | QDir::Hidden);
            while (it.hasNext()) {
                QFile info(it.next());
                if (!info.open(QIODevice::ReadOnly)
                    || !info.readAll().contains("Path=" + name.toUtf8() + '/'))
                    continue;
                QFile::remove(trash + QStringLiteral("/files/") + it.fileName().chopped(10));
                QFile::remove(info.fileName());
            }
        }
    }

    QStringList roots() const { return { home.storageRoot(), disc.path(), mediaPlaces.path() }; }

    // A card or a phone plugged in or pulled (the window's watch told as the desktop would).
    QString mediumEvent()
    {
        static const QStringList names { QStringLiteral("CANON_SD"), QStringLiteral("Pixel 8") };
        const QString name = names.at(int(rng.bounded(names.size())));
        const QString place = mediaPlaces.filePath(name);
        const QString pulled = mediaPlaces.filePath(QStringLiteral(".pulled-") + name);
        const auto at = std::find_if(
            media.list.begin(), media.list.end(), [&](const Medium& m) { return m.name == name; });
        const bool onImage = cardOnImage && name == QLatin1String("CANON_SD");
        if (at != media.list.end()) {
            media.list.erase(at);
            if (onImage) {
                cardImageOf.unmount();
                ++cardUnmounts;
            } else
                QDir().rename(place, pulled);
            media.notify();
            return QStringLiteral("medium pulled %1").arg(name);
        }
        if (!onImage)
            QDir().rename(pulled, place);
        else if (const QString why = cardImageOf.mount(); !why.isEmpty())
            return QStringLiteral("FAIL: the card image did not mount: ") + why;
        else
            ++cardMounts;
        media.list.append({ QStringLiteral("m%1").arg(++mediaPlugged), place, name, QString(), QString(),
            false, name.startsWith(u'P') });
        media.notify();
        return QStringLiteral("medium plugged %1").arg(name);
    }
    int mediaPlugged = 0;

    // "保管済みの画像をメディアから削除…" on a plugged medium's root; a file it took off the
    // medium must have its exact bytes in the vault right after.
    QString mediumDeleteEvent()
    {
        BrowsingArea& cd = form->area(Area::Cd);
        FolderTree* tree = cd.TreeView1();
        if (media.list.isEmpty() || tree->topLevelItemCount() < 2)
            return QStringLiteral("medium delete: no medium");
        form->SSTab1()->setCurrentIndex(0);
        QTreeWidgetItem* root = tree->topLevelItem(1 + int(rng.bounded(tree->topLevelItemCount() - 1)));
        tree->setCurrentItem(root);
        const QString top = FolderTree::nodeKey(root);
        QHash<QString, QByteArray> onMedium;
        for (QDirIterator it(top, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                onMedium.insert(path, f.readAll());
        }
        form->popupMenu(Area::Cd, TabWindow::Menu::Medium);
        QAction* command = form->action("Medium_DeleteFiled");
        if (!command->isEnabled())
            return QStringLiteral("medium delete: greyed out");
        command->trigger();
        QSet<QByteArray> inVault;
        for (QDirIterator it(home.vault(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly))
                inVault.insert(f.readAll());
        }
        int gone = 0;
        for (auto it = onMedium.cbegin(); it != onMedium.cend(); ++it) {
            struct stat st { };
            if (statPath(it.key(), &st))
                continue;
            if (!inVault.contains(it.value()))
                return QStringLiteral("FAIL: %1 left the medium without its bytes in the vault")
                    .arg(it.key());
            leftMedium.insert(it.key());
            ++gone;
        }
        return QStringLiteral("medium delete %1 files").arg(gone);
    }
    // Files the last event took off a medium, proved in the vault.
    QSet<QString> leftMedium;
    int mediumWeight = 2; // of the events, how often a medium comes or goes
    CardImage cardImageOf { g_noNamespace }; // the camera card's image, read-only
    bool cardOnImage = false;
    int cardMounts = 0; // the card image mounted again, and unmounted
    int cardUnmounts = 0;
    QString cardFailed; // why the card image could not be made and mounted
    // "新しい画像を保管庫へコピー…" on a folder of a medium, into a box the chooser marks at
    // random. Whatever it copies, the medium itself stays as it was (checked after each event).
    QString importEvent()
    {
        FolderTree* tree = form->area(Area::Cd).TreeView1();
        QList<QTreeWidgetItem*> onMedia;
        for (QTreeWidgetItem* node : tree->allNodes()) {
            QTreeWidgetItem* top = node;
            while (top->parent())
                top = top->parent();
            if (tree->indexOfTopLevelItem(top) > 0)
                onMedia << node;
        }
        if (onMedia.isEmpty())
            return QStringLiteral("import: no medium");
        QTreeWidgetItem* node = onMedia.at(int(rng.bounded(onMedia.size())));
        tree->setCurrentItem(node);
        form->action("Medium_Import")->trigger();
        SetFolder* chooser = form->cardImport().chooser();
        if (!chooser)
            return QStringLiteral("import: refused");
        const QList<QTreeWidgetItem*> boxes = chooser->TreeView1->allNodes();
        QTreeWidgetItem* box = boxes.at(int(rng.bounded(boxes.size())));
        chooser->TreeView1->setCurrentItem(box);
        chooser->TreeView1_NodeClick(box);
        const QString what = QStringLiteral("import from %1 into %2")
                                 .arg(tree->treePath(node), chooser->TreeView1->treePath(box));
        chooser->Command1[0]->click();
        return what;
    }
    // Undo and redo events that changed a step.
    int stepsTakenBackOrRedone = 0;
    // Drags started on an unchosen thumbnail that filed it.
    int unchosenFiled = 0;
    // Thumbnails made during the current event: the file and the colour shown.
    QList<std::pair<QString, QColor>> made;
    // Files removed behind the program's back during the current event.
    QSet<quint64> removedOutside;
    // The sizes each replaced file had at a modification second.
    QHash<std::pair<QString, qint64>, QSet<qint64>> sizesAt;

    QRandomGenerator rng;
    RandomPrompts prompts;
    TestHome home;
    QTemporaryDir disc;
    // The removable media's places: each medium's folder, or, while it is pulled, the same
    // folder under a hidden name (its files unreachable, none of them lost).
    QTemporaryDir mediaPlaces;
    FakeMedia media;
    FakeShell shell;
    FakeDrives drives;
    FakeSpreadsheet spreadsheet;
    Services services { prompts, shell, drives, spreadsheet, windowFileOps(), &media };
    std::unique_ptr<MainForm> form;
    // The second window's journal, and the steps as the last check saw them.
    std::unique_ptr<FilingJournal> other;
    QHash<qint64, JournalStep::State> seen;
    qint64 lastSeen = 0;
    QList<qint64> undoneOrder;
    ScriptedSaveDialog* saveDialog = nullptr;
    QString lastMenu;
};

} // namespace

class TstRandomWalk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void walk();
    void walkOnAnotherFileSystem();
    void walkOnASlowShare();
    void walkWithACardImage();

private:
    void run(Walk& w, quint32 seed, int events);
};

namespace {

quint32 walkSeed()
{
    // As printed: half the seeds lie above what an int holds.
    return qEnvironmentVariableIsSet("ZTV_WALK_SEED") ? qEnvironmentVariable("ZTV_WALK_SEED").toUInt()
                                                      : QRandomGenerator::global()->generate();
}

int walkEvents(int fallback)
{
    return qEnvironmentVariableIsSet("ZTV_WALK_EVENTS") ? qEnvironmentVariableIntValue("ZTV_WALK_EVENTS")
                                                        : fallback;
}

bool clipboardEvent(const QString& event)
{
    return event.contains(QLatin1String("Clip_Copy")) || event == QLatin1String("button Command5_1")
        || event == QLatin1String("button Command3_2") || event == QLatin1String("button Command4_5");
}

} // namespace

void TstRandomWalk::run(Walk& w, quint32 seed, int events)
{
    qInfo("random walk: seed %u, %d events (replay with ZTV_WALK_SEED=%u)", seed, events, seed);
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QStringList log;
    auto fail = [&](const QString& why) {
        qWarning("random walk failed: seed %u, after event %lld: %s", seed, qlonglong(log.size()),
            qPrintable(why));
        for (qsizetype i = std::max<qsizetype>(0, log.size() - 40); i < log.size(); ++i)
            qWarning("  %lld: %s", qlonglong(i + 1), qPrintable(log.at(i)));
        return why;
    };
    QHash<quint64, FileState> before = scan(w.roots());
    QHash<QString, int> kinds;
    int severalActedOn = 0; // operations asked with several files chosen
    int mediumPages = 0; // events after which the CD tab listed a folder of a medium
    for (int i = 0; i < events; ++i) {
        w.mayChange.clear();
        w.made.clear();
        w.removedOutside.clear();
        w.leftMedium.clear();
        QString clipSource;
        bool several = false;
        if (const std::optional<Area> a = w.form->currentArea()) {
            several = w.form->area(*a).chosenCount() > 1;
            if (const auto inode = inodeOf(w.form->area(*a).TabSelection()))
                w.mayChange.insert(*inode);
            for (const PictureChoice& c : w.form->area(*a).Chosen())
                if (const auto inode = inodeOf(c))
                    w.mayChange.insert(*inode);
            if (w.form->area(*a).TabSelection())
                clipSource = w.form->area(*a).TabSelection()->path;
        }
        const QString event = w.step(i);
        QCoreApplication::processEvents();
        if (w.form->area(Area::Cd).ListedFolder().startsWith(w.mediaPlaces.path()))
            ++mediumPages;
        log << event;
        ++kinds[event.section(u' ', 0, 1)];
        if (several
            && (event.startsWith(QLatin1String("button"))
                || event.startsWith(QLatin1String("chooser: file"))))
            ++severalActedOn;
        if (event.startsWith(QLatin1String("FAIL:")) || event.contains(QLatin1String(", then FAIL:")))
            QFAIL(qPrintable(fail(event)));
        QString problem = w.invariant();
        if (problem.isEmpty())
            problem = w.journalCheck();
        if (problem.isEmpty() && clipboardEvent(event))
            problem = w.clipboardCheck(clipSource);
        if (!problem.isEmpty())
            QFAIL(qPrintable(fail(problem)));
        const QHash<quint64, FileState> after = scan(w.roots());
        // Nothing is ever written on a medium, chosen or not; a pulled one keeps its files. A file
        // leaves one only when its exact bytes are in the vault.
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!it->path.startsWith(w.mediaPlaces.path()))
                continue;
            const auto now = after.constFind(it.key());
            if (now == after.cend() && w.leftMedium.contains(it->path))
                continue;
            if (now == after.cend() || now->hash != it->hash)
                QFAIL(
                    qPrintable(fail(QStringLiteral("%1 on a medium was changed or removed").arg(it->path))));
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            const auto now = after.constFind(it.key());
            if (now == after.cend() && !w.removedOutside.contains(it.key())
                && it->path.startsWith(w.home.storageRoot())) {
                if (const QString lost = w.trashCheck(it.key(), it->path); !lost.isEmpty())
                    QFAIL(qPrintable(fail(lost)));
            }
            if (w.mayChange.contains(it.key()) || (now == after.cend() && w.leftMedium.contains(it->path)))
                continue;
            if (now == after.cend())
                QFAIL(qPrintable(fail(QStringLiteral("%1 was removed").arg(it->path))));
            if (now->hash != it->hash)
                QFAIL(qPrintable(fail(QStringLiteral("%1 was changed").arg(it->path))));
        }
        before = after;
    }
    // The walk reached the operations, not only the clicks.
    QVERIFY(
        kinds.value(QStringLiteral("button Command4_3")) + kinds.value(QStringLiteral("button Command3_1"))
        > 0);
    QVERIFY(events < 1000 || kinds.value(QStringLiteral("chooser: file")) > 0);
    QVERIFY(events < 1000 || kinds.value(QStringLiteral("round trip")) > 0);
    QVERIFY(events < 1000 || kinds.value(QStringLiteral("drop chosen")) > 0);
    QVERIFY(events < 1000 || kinds.value(QStringLiteral("drag unchosen")) > 0);
    QVERIFY(kinds.value(QStringLiteral("round trip")) > 0);
    QVERIFY(events < 1000 || severalActedOn > 0);
    QVERIFY(events < 1000 || w.stepsTakenBackOrRedone > 0);
    qInfo("random walk: media pulled %d, plugged %d, pages listed from a medium %d",
        kinds.value(QStringLiteral("medium pulled")), kinds.value(QStringLiteral("medium plugged")),
        mediumPages);
    QVERIFY(events < 1000 || (kinds.value(QStringLiteral("medium pulled")) > 0 && mediumPages > 0));
    QVERIFY(events < 1000 || kinds.value(QStringLiteral("medium delete")) > 0);
    QVERIFY(events < 1000 || kinds.value(QStringLiteral("import from")) > 0);
    qInfo("random walk: %d events, %lld kinds, %d operations on several chosen, %d steps undone or redone, "
          "%d undos refused, %d events of a second window, %d drags from an unchosen thumbnail (%d filed)",
        events, qlonglong(kinds.size()), severalActedOn, w.stepsTakenBackOrRedone,
        kinds.value(QStringLiteral("refused undo:")), kinds.value(QStringLiteral("other window:")),
        kinds.value(QStringLiteral("drag unchosen")), w.unchosenFiled);
}

void TstRandomWalk::walk()
{
    const quint32 seed = walkSeed();
    Walk w(seed);
    run(w, seed, walkEvents(2000));
}

// The camera card is a FAT image that comes and goes as a real FUSE mount, often: a short walk,
// as every event through the card's file system costs more than through a folder.
void TstRandomWalk::walkWithACardImage()
{
    if (const QString why = CardImage(g_noNamespace).unavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const quint32 seed = walkSeed();
    Walk w(seed, QString(), true);
    auto unmount = qScopeGuard([&] {
        if (w.cardOnImage)
            w.cardImageOf.unmount();
    });
    QVERIFY2(w.cardFailed.isEmpty(), qPrintable(w.cardFailed));
    w.mediumWeight = 20;
    run(w, seed, walkEvents(300)); // enough to reach the operations
    QVERIFY(w.cardUnmounts > 0 && w.cardMounts > 0);
}

// The storage root on a tmpfs while the home folder (and its trash) is elsewhere: deletes go
// to the trash at the top of the storage root's own file system.
void TstRandomWalk::walkOnAnotherFileSystem()
{
    struct stat shm {
    }, tmp {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(QFile::encodeName(QDir::tempPath()).constData(), &tmp) != 0
        || shm.st_dev == tmp.st_dev)
        QSKIP("no second file system at /dev/shm");
    QTemporaryDir other(QStringLiteral("/dev/shm/ztv-walk-XXXXXX"));
    QVERIFY(other.isValid());
    const quint32 seed = walkSeed();
    Walk w(seed, other.path());
    const bool hadTrash = QFileInfo::exists(QStringLiteral("/dev/shm/.Trash-%1").arg(geteuid()));
    run(w, seed, walkEvents(600));
    w.emptyOwnTrash(other.path());
    if (!hadTrash)
        QDir(QStringLiteral("/dev/shm/.Trash-%1").arg(geteuid())).removeRecursively();
}

// The storage root on the tests' slow FUSE share (tests/fs/delayfs.py), which refuses
// RENAME_NOREPLACE as network file systems do: renames fall back to link and unlink, deletes go
// to the share's own trash. Every call of the share waits a little; the walk's own check reads
// every file after each event through the share, so the wait is kept short.
void TstRandomWalk::walkOnASlowShare()
{
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString server = base.filePath(QStringLiteral("server"));
    const QString share = base.filePath(QStringLiteral("share"));
    QVERIFY(QDir().mkpath(server) && QDir().mkpath(share));
    DelayFsMount fs;
    if (const QString why = fs.start(QStringLiteral(ZTV_DELAYFS), server, share, 0.1); !why.isEmpty())
        QSKIP(qPrintable(why));
    const quint32 seed = walkSeed();
    {
        Walk w(seed, share);
        run(w, seed, walkEvents(400)); // enough to reach the operations
    }
    fs.stop();
}

int main(int argc, char** argv)
{
    // While the process has a single thread; /run stays the machine's (no card looks there).
    g_noNamespace = enterPrivateMountNamespace(false);
    QApplication app(argc, argv);
    TstRandomWalk t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_randomwalk.moc"
