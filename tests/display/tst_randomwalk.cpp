// A seeded random walk through the real main window: clicks and keys on thumbnails and tree
// nodes, page changes, tab switches, box and file operations, transfers with the chooser
// left open, clipboard, paste and saves, and files changed behind the program's back. After
// every event each tab's display, choice and drawn selection must agree, and no file on disk
// may have changed but the one the acting tab showed. ZTV_WALK_SEED replays a walk,
// ZTV_WALK_EVENTS sets its length.
#include "Fakes.h"
#include "ScriptedSaveDialog.h"
#include "StorageBuilder.h"
#include "capture/PictureSaving.h"
#include "capture/SaveSelect.h"
#include "display/BrowsingArea.h"
#include "display/PreviewForm.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FolderTree.h"
#include "mainwindow/MainForm.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <sys/stat.h>

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

// Every regular file under the folders, by inode.
QHash<quint64, FileState> scan(const QStringList& roots)
{
    QHash<quint64, FileState> files;
    for (const QString& root : roots) {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            struct stat st { };
            QFile file(path);
            if (!statPath(path, &st) || !file.open(QIODevice::ReadOnly))
                continue;
            files.insert(quint64(st.st_ino),
                { path, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5) });
        }
    }
    return files;
}

std::optional<quint64> inodeOf(const std::optional<PictureChoice>& choice)
{
    if (!choice)
        return std::nullopt;
    return choice->identity.inode;
}

class Walk {
public:
    explicit Walk(quint32 seed)
        : rng(seed)
        , prompts(rng)
    {
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
        for (int i = 0; i < 30; ++i)
            home.write(s + QStringLiteral("s%1.png").arg(i, 2, 10, QLatin1Char('0')),
                pictures::png({ 16 + i, 16 }, QColor::fromHsv(i * 11, 180, 220)));
        home.write(s + QStringLiteral("箱/x.jpg"), pictures::jpeg({ 24, 24 }, Qt::green));
        writeDisc(QStringLiteral("cd1.jpg"), pictures::jpeg({ 32, 24 }, Qt::red));
        writeDisc(QStringLiteral("cd2.png"), pictures::png({ 24, 32 }, Qt::yellow));
        writeDisc(QStringLiteral("フォルダ/cd3.jpg"), pictures::jpeg({ 28, 28 }, Qt::darkRed));

        form = std::make_unique<MainForm>(services);
        form->setMenuOpener([this](QMenu* menu) { lastMenu = menu->objectName(); });
        form->setQuitHandler([] {});
        auto dialog = std::make_unique<ScriptedSaveDialog>();
        saveDialog = dialog.get();
        form->setSaveDialog(std::move(dialog));
        form->show();
        form->Form_Load();
    }

    void writeDisc(const QString& name, const QByteArray& bytes)
    {
        const QString path = disc.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    // One random user event; its name goes to the log.
    QString step()
    {
        using Action = std::pair<int, std::function<QString()>>;
        const std::optional<Area> current = form->currentArea();
        const std::vector<Action> actions {
            { 20, [&] { return clickThumbnail(); } },
            { 10, [&] { return keyOnThumbnails(); } },
            { 12, [&] { return clickTreeNode(); } },
            { 10, [&] { return keyOnTree(); } },
            { 4, [&] { return changePage(); } },
            { 8, [&] { return switchTab(); } },
            { 6, [&] { return fileButton(); } },
            { 5, [&] { return menuItem(); } },
            { 4, [&] { return boxOperation(); } },
            { 5, [&] { return chooserEvent(); } },
            { 3, [&] { return pasteEvent(); } },
            { 2, [&] { return saveEvent(); } },
            { 2, [&] { return previewEvent(); } },
            { 3, [&] { return outsideChange(); } },
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
        ThumbnailList* list = form->area(*a).LEADImgList1;
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

    QString keyOnThumbnails()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("thumbnail keys: paste tab");
        static const Qt::Key keys[] = { Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Return,
            Qt::Key_Return, Qt::Key_Menu, Qt::Key_PageDown, Qt::Key_Home };
        const Qt::Key key = keys[rng.bounded(int(std::size(keys)))];
        QWidget* view = form->area(*a).LEADImgList1->view();
        view->setFocus();
        QTest::keyClick(view, key);
        return QStringLiteral("key %1 on thumbnails").arg(QKeySequence(key).toString());
    }

    QString clickTreeNode()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("click node: paste tab");
        FolderTree* tree = form->area(*a).TreeView1;
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
        FolderTree* tree = form->area(*a).TreeView1;
        tree->setFocus();
        QTest::keyClick(tree, key);
        return QStringLiteral("key %1 on tree").arg(QKeySequence(key).toString());
    }

    QString changePage()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("page: paste tab");
        QComboBox* combo = form->area(*a).Combo1;
        combo->setFocus();
        QTest::keyClick(combo, rng.bounded(2) ? Qt::Key_Down : Qt::Key_Up);
        return QStringLiteral("page key, now %1").arg(combo->currentText());
    }

    QString switchTab()
    {
        const int tab = int(rng.bounded(4));
        form->SSTab1->setCurrentIndex(tab);
        return QStringLiteral("tab %1").arg(tab);
    }

    QString fileButton()
    {
        const std::optional<Area> a = form->currentArea();
        if (!a)
            return QStringLiteral("file button: paste tab");
        QList<QToolButton*> buttons;
        switch (*a) {
        case Area::Cd:
            buttons = { form->Command5[1] }; // the transfer goes through chooserEvent
            break;
        case Area::StockYard:
            buttons = { form->Command3[1], form->Command3[2] };
            break;
        case Area::Vault:
            buttons = { form->Command4[3], form->Command4[4], form->Command4[5] };
            break;
        }
        QToolButton* b = buttons.at(int(rng.bounded(buttons.size())));
        b->click();
        return QStringLiteral("button %1").arg(b->objectName());
    }

    QString menuItem()
    {
        const QList<QAction*> items { form->R_Del, form->R_Clip_Copy, form->RF_Del, form->RF_Mod,
            form->RF_Clip_Copy, form->RCD_Clip_Copy, form->Exl_copy0, form->Exl_copy1, form->Exl_copy2 };
        QAction* item = items.at(int(rng.bounded(items.size())));
        item->trigger();
        return QStringLiteral("menu item %1").arg(item->objectName());
    }

    QString boxOperation()
    {
        if (form->currentArea() != Area::Vault)
            return QStringLiteral("box: not the vault");
        const int i = int(rng.bounded(3));
        form->Command4[i]->click();
        return QStringLiteral("box button %1").arg(form->Command4[i]->objectName());
    }

    QString chooserEvent()
    {
        SetFolder* chooser = form->vaultTransfer().chooser();
        if (!chooser || rng.bounded(3) == 0) {
            const std::optional<Area> a = form->currentArea();
            if (a == Area::Cd) {
                form->Command5[0]->click();
                return QStringLiteral("CD: copy to the vault");
            }
            if (a == Area::StockYard) {
                form->Command3[0]->click();
                return QStringLiteral("stock yard: move to the vault");
            }
            return QStringLiteral("chooser: none");
        }
        if (rng.bounded(2)) {
            const QList<QTreeWidgetItem*> nodes = chooser->TreeView1->allNodes();
            QTreeWidgetItem* node = nodes.at(int(rng.bounded(nodes.size())));
            if (node->parent())
                chooser->TreeView1->expandItem(node->parent());
            QTest::mouseClick(chooser->TreeView1->viewport(), Qt::LeftButton, {},
                chooser->TreeView1->visualItemRect(node).center());
            return QStringLiteral("chooser: node %1").arg(chooser->TreeView1->treePath(node));
        }
        const bool file = rng.bounded(4) != 0;
        const VaultTransfer& t = form->vaultTransfer();
        if (file) {
            if (const auto inode = inodeOf(form->area(t.TransferSourceArea).TabSelection))
                mayChange.insert(*inode);
        }
        chooser->Command1[file ? 0 : 1]->click();
        return QStringLiteral("chooser: %1").arg(file ? "file it" : "cancel");
    }

    QString pasteEvent()
    {
        if (rng.bounded(3) == 0) {
            form->Command1[0]->click();
            return QStringLiteral("clear pasted picture");
        }
        QImage picture(40 + int(rng.bounded(200)), 30 + int(rng.bounded(200)), QImage::Format_ARGB32);
        picture.fill(QColor::fromHsv(int(rng.bounded(360)), 200, 200, rng.bounded(2) ? 255 : 128));
        QGuiApplication::clipboard()->setImage(picture);
        form->Command1[1]->click();
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
            form->Command1[4]->click();
        } else {
            form->Command1[3]->click();
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
        PictureDisplay* display = form->area(*a).LEAD1;
        QTest::mouseClick(display, Qt::LeftButton, {}, display->rect().center());
        return QStringLiteral("click on the display");
    }

    // Files change behind the program's back: one appears, one is rewritten or removed.
    QString outsideChange()
    {
        const auto files = scan({ home.stockYard(), home.vault() });
        switch (rng.bounded(3)) {
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
                return QStringLiteral("outside: removed %1").arg(path);
            }
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Append))
                file.write("tail");
            return QStringLiteral("outside: rewrote %1").arg(path);
        }
        }
    }

    // "" when every tab agrees with itself.
    QString invariant() const
    {
        for (Area a : kAreas) {
            const QString problem = form->area(a).invariantViolation();
            if (!problem.isEmpty())
                return QStringLiteral("tab %1: %2").arg(tabIndex(a)).arg(problem);
        }
        return QString();
    }

    QStringList roots() const { return { home.storageRoot(), disc.path() }; }

    QRandomGenerator rng;
    RandomPrompts prompts;
    TestHome home;
    QTemporaryDir disc;
    FakeShell shell;
    FakeDrives drives;
    FakeSpreadsheet spreadsheet;
    Services services { prompts, shell, drives, spreadsheet, realFileOps() };
    std::unique_ptr<MainForm> form;
    ScriptedSaveDialog* saveDialog = nullptr;
    QString lastMenu;
};

} // namespace

class TstRandomWalk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void walk();
};

void TstRandomWalk::walk()
{
    const quint32 seed = qEnvironmentVariableIsSet("ZTV_WALK_SEED")
        ? quint32(qEnvironmentVariableIntValue("ZTV_WALK_SEED"))
        : QRandomGenerator::global()->generate();
    const int events = qEnvironmentVariableIsSet("ZTV_WALK_EVENTS")
        ? qEnvironmentVariableIntValue("ZTV_WALK_EVENTS")
        : 2000;
    qInfo("random walk: seed %u, %d events (replay with ZTV_WALK_SEED=%u)", seed, events, seed);
    Walk w(seed);
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
    for (int i = 0; i < events; ++i) {
        w.mayChange.clear();
        if (const std::optional<Area> a = w.form->currentArea())
            if (const auto inode = inodeOf(w.form->area(*a).TabSelection))
                w.mayChange.insert(*inode);
        const QString event = w.step();
        QCoreApplication::processEvents();
        log << event;
        ++kinds[event.section(u' ', 0, 1)];
        const QString problem = w.invariant();
        if (!problem.isEmpty())
            QFAIL(qPrintable(fail(problem)));
        const QHash<quint64, FileState> after = scan(w.roots());
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (w.mayChange.contains(it.key()))
                continue;
            const auto now = after.constFind(it.key());
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
    QVERIFY(kinds.value(QStringLiteral("chooser: file")) > 0);
    qInfo("random walk: %d events, %lld kinds", events, qlonglong(kinds.size()));
}

QTEST_MAIN(TstRandomWalk)
#include "tst_randomwalk.moc"
