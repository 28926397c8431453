#pragma once

#include "MainFormFixture.h"
#include "filing/CardImport.h"
#include "filing/Journal.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/ThumbnailList.h"
#include "platform/ContentIndex.h"
#include "platform/FaultInjection.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QSemaphore>
#include <QTabWidget>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace ztv::test {

// One recorded prompt as a line: kind|text|title|icon|buttons, so a whole exchange
// compares in one QCOMPARE with a readable difference.
inline QString describe(const RecordingPrompts::Call& c)
{
    static const char* icons[] = { "none", "critical", "question", "exclamation", "information" };
    const QString kind
        = c.kind == RecordingPrompts::Call::Input ? QStringLiteral("input") : QStringLiteral("message");
    const QString buttons = c.buttons == PromptButtons::Ok ? QStringLiteral("ok")
        : c.buttons == PromptButtons::OkCancel             ? QStringLiteral("okcancel")
                                                           : QStringLiteral("okcancel, cancel default");
    QString line
        = QStringList { kind, c.text, c.title, QLatin1String(icons[int(c.icon)]), buttons }.join(u'|');
    if (c.kind == RecordingPrompts::Call::Input)
        line += QStringLiteral("|default=") + c.defaultText;
    return line;
}

inline QStringList recorded(const RecordingPrompts& prompts)
{
    QStringList out;
    for (const RecordingPrompts::Call& c : prompts.calls)
        out << describe(c);
    return out;
}

inline QString message(const QString& text, const QString& title = QStringLiteral("ゼントヴィ"),
    const char* icon = "none", const char* buttons = "ok")
{
    return QStringList { QStringLiteral("message"), text, title, QLatin1String(icon), QLatin1String(buttons) }
        .join(u'|');
}

inline QString critical(const QString& text, const QString& title)
{
    return message(text, title, "critical");
}

// The question before filing one picture whose content the vault holds at vaultPath
// ("保管庫/旅行/a.jpg").
inline QString inVaultAsk(const QString& vaultPath)
{
    return message(QStringLiteral("同じ内容のファイルがすでに保管庫にあります\r") + vaultPath
            + QStringLiteral("\rそれでも保管しますか？（「キャンセル」で保管しません）"),
        QStringLiteral("保管庫にある画像"), "none", "okcancel");
}

// A picture followed by a hole, 80 MiB that cost no disk: a copy large enough to show its
// progress and to be stopped between blocks. False when it could not be written.
inline bool writeLargeSparsePicture(const QString& path, const QColor& colour)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(pictures::jpeg({ 40, 30 }, colour)) > 0
        && file.resize(80LL * 1024 * 1024);
}

// Holds a large copy at its second block, runs inside on the window's thread meanwhile, then
// lets the copy go on. Only the copy's own thread counts: the one that asked the free space
// just before it wrote (other workers, a cache or the index, write too). The state is shared
// with the hook, so a late call from a worker finds it alive.
class CopyGate {
public:
    CopyGate(QObject* window, std::function<void()> inside)
        : m_state(std::make_shared<State>())
    {
        faults::setHook([state = m_state, window, inside = std::move(inside)](faults::Op op, int) {
            if (onMainThread())
                return;
            const std::thread::id me = std::this_thread::get_id();
            if (op == faults::Op::Statvfs) {
                std::thread::id none;
                state->copier.compare_exchange_strong(none, me);
                return;
            }
            if (op != faults::Op::Write || state->copier.load() != me || ++state->writes != 2)
                return;
            QMetaObject::invokeMethod(
                window,
                [state, inside] {
                    inside();
                    state->ran = true;
                    state->done.release();
                },
                Qt::QueuedConnection);
            state->hung = !state->done.tryAcquire(1, 60000);
        });
    }
    ~CopyGate() { faults::setHook({}); }
    // The copy's writes so far, and whether inside ran while the copy was held.
    int writes() const { return m_state->writes.load(); }
    bool ran() const { return m_state->ran.load() && !m_state->hung.load(); }

private:
    struct State {
        std::atomic<std::thread::id> copier {};
        std::atomic<int> writes { 0 };
        std::atomic<bool> ran { false };
        std::atomic<bool> hung { false };
        QSemaphore done;
    };
    std::shared_ptr<State> m_state;
};

inline QString input(const QString& prompt, const QString& title)
{
    return QStringList { QStringLiteral("input"), prompt, title, QStringLiteral("none"),
        QStringLiteral("okcancel") }
               .join(u'|')
        + QStringLiteral("|default=");
}

inline QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Everything below a folder, hidden entries included: relative path -> bytes ("<dir>").
inline QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> s;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        s.insert(path.mid(root.size()), it.fileInfo().isDir() ? QByteArray("<dir>") : contents(path));
    }
    return s;
}

// The node of a tree with that tree path ("保管庫/旅行"), or nullptr.
inline QTreeWidgetItem* nodeAt(FolderTree* tree, const QString& treePath)
{
    const QList<QTreeWidgetItem*> nodes = tree->allNodes();
    for (QTreeWidgetItem* node : nodes) {
        if (tree->treePath(node) == treePath)
            return node;
    }
    return nullptr;
}

inline QStringList childTexts(QTreeWidgetItem* parent)
{
    QStringList out;
    for (int i = 0; i < (parent ? parent->childCount() : 0); ++i)
        out << parent->child(i)->text(0);
    return out;
}

// Brings the tab to the front and chooses the thumbnail of that file, as a click does.
// False when the tab does not list the file.
inline bool selectPicture(MainForm& form, int tab, const QString& file)
{
    form.SSTab1()->setCurrentIndex(tab);
    const int index = int(form.area(Area(tab)).HiddenList().indexOf(file));
    if (index < 0)
        return false;
    form.area(Area(tab)).LEADImgList1_Click(index);
    return chosenIndex(form, Area(tab)) == index;
}

// Clicks a node of a main-window tree by its tree path; false when there is none.
inline bool clickNode(MainForm& form, int tab, const QString& treePath)
{
    form.area(Area(tab)).ReopenTreePath(treePath.left(treePath.lastIndexOf(u'/')));
    QTreeWidgetItem* node = nodeAt(form.area(Area(tab)).TreeView1(), treePath);
    if (!node)
        return false;
    form.area(Area(tab)).TreeView1()->setCurrentItem(node);
    form.area(Area(tab)).TreeView1_NodeClick(node);
    return form.area(Area(tab)).CurrentNodePath() == treePath;
}

// Clicks the box with that tree path in the chooser; false when it has no such box.
inline bool pickBox(SetFolder& chooser, const QString& treePath)
{
    QTreeWidgetItem* node = nodeAt(chooser.TreeView1, treePath);
    if (!node)
        return false;
    chooser.TreeView1->setCurrentItem(node);
    chooser.TreeView1_NodeClick(node);
    return true;
}

// Triggers a transfer command, picks the box with that tree path in the chooser it opened and
// presses the chooser's action button; false when no chooser opened or it has no such box.
inline bool fileThroughChooser(MainForm& form, QAction* command, const QString& treePath)
{
    command->trigger();
    SetFolder* chooser = form.vaultTransfer().chooser();
    if (!chooser || !pickBox(*chooser, treePath))
        return false;
    chooser->Command1_Click(0);
    return true;
}

// Right-clicks a node of the CD tree, as on a medium, and gives the menus that opened; the
// removal command is offered on a medium's root alone.
inline bool mediumMenuOn(MainFormFixture& f, QTreeWidgetItem* node)
{
    FolderTree* tree = f.form->area(Area::Cd).TreeView1();
    tree->scrollToItem(node);
    f.openedMenus.clear();
    f.form->area(Area::Cd).TreeView1_MouseButton(Qt::RightButton, tree->visualItemRect(node).center());
    return f.openedMenus == QStringList { QStringLiteral("menu_Medium") }
    && f.form->action("Medium_Remove")->isEnabled() == !node->parent();
}

// "新しい画像を保管庫へコピー…" from the medium menu over that node, into the box with that tree
// path through its chooser; false when the menu, the chooser or the box is missing.
inline bool importFromMedium(MainFormFixture& f, QTreeWidgetItem* node, const QString& boxTreePath)
{
    if (!node || !mediumMenuOn(f, node))
        return false;
    f.form->action("Medium_Import")->trigger();
    SetFolder* chooser = f.form->cardImport().chooser();
    if (!chooser || !pickBox(*chooser, boxTreePath))
        return false;
    chooser->Command1_Click(0);
    return true;
}

// Waits for the vault's content index to have looked at everything, then for the answers it
// posted: a medium's listing is marked, and a FUSE card read by nothing else meanwhile.
inline bool indexSettled(MainForm& form)
{
    if (!QTest::qWaitFor([&form] { return form.contentIndex()->idle(); }, 30000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

// The journal's step with that id; null when it holds none.
inline const JournalStep* stepWithId(const FilingJournal& journal, qint64 id)
{
    for (const JournalStep& s : journal.steps())
        if (s.id == id)
            return &s;
    return nullptr;
}

// A fixture whose fault arms are dropped on both sides of each test.
struct FaultScope {
    FaultScope() { faults::reset(); }
    ~FaultScope() { faults::reset(); }
};

inline const QString kVault = QStringLiteral("保管庫");
inline const QString kAppTitle = QStringLiteral("ゼントヴィ");

} // namespace ztv::test
