#include "filing/History.h"

#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/BoxKeys.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/texts.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace ztv {

namespace T = filingtexts;
using namespace filing;
using Kind = JournalStep::Kind;

void tellJournalTrouble(OperationContext& context, FilingJournal& journal)
{
    if (const QString aside = journal.takeMovedAside(); !aside.isEmpty())
        showError(context, QString::fromUtf16(T::JournalMovedAside).arg(displayName(aside)), T::FilingError);
    if (journal.tellFailure())
        showError(context, T::JournalError, T::FilingError);
}

StepRecord::StepRecord(OperationContext& context, Kind kind, const QList<JournalEntry>& plan)
    : m_journal(context.journal())
{
    if (!m_journal)
        return;
    m_journal->setStorageRoot(context.storagePaths().AreaBasePath[Area::Vault]);
    m_id = m_journal->begin(kind, plan);
    tellJournalTrouble(context, *m_journal);
}

StepRecord::~StepRecord()
{
    if (m_journal)
        m_journal->finish(m_id, m_done);
}

FileIdentity StepRecord::folderOf(const QString& path)
{
    const QString folder = FilingJournal::folderOf(path);
    auto it = m_folders.constFind(folder);
    if (it == m_folders.cend())
        it = m_folders.insert(folder, FilingJournal::folderIdentityAt(folder, true));
    return *it;
}

void StepRecord::moved(const QString& from, const QString& to)
{
    JournalEntry e(from, to, {}, FilingJournal::identityAt(to), {}, true);
    e.fromFolder = folderOf(from);
    e.toFolder = folderOf(to);
    m_done.append(e);
}

void StepRecord::copied(const QString& from, const QString& to, const FileIdentity& source)
{
    JournalEntry e(from, to, {}, FilingJournal::identityAt(to), source, true);
    e.toFolder = folderOf(to);
    m_done.append(e);
}

void StepRecord::trashed(const QString& from, const TrashedFile& where)
{
    JournalEntry e(from, where.file, where.record, FilingJournal::identityAt(where.file), {}, true);
    e.fromFolder = folderOf(from);
    if (!where.file.isEmpty())
        e.toFolder = folderOf(where.file);
    m_done.append(e);
}

void StepRecord::folder(const QString& from, const QString& to)
{
    // The box as it stands after the step (none after a delete), and the folders around it.
    JournalEntry e(from, to, {}, FilingJournal::folderIdentityAt(to.isEmpty() ? from : to), {}, true);
    e.fromFolder = folderOf(from);
    if (!to.isEmpty())
        e.toFolder = folderOf(to);
    m_done.append(e);
}

QList<JournalEntry> StepRecord::plan(const QStringList& files, const QString& toFolder)
{
    QList<JournalEntry> out;
    for (const QString& f : files)
        out.append(
            { f, toFolder.isEmpty() ? QString() : toFolder + u'/' + GetFileTitle(f), {}, {}, {}, false });
    return out;
}

UndoRedo::~UndoRedo()
{
    if (m_watched)
        m_watched->setOnChange(nullptr);
    delete m_history.data();
}

QString UndoRedo::words(const JournalStep& step)
{
    const auto name = [](const QString& path) { return displayName(GetFileTitle(path)); };
    const qsizetype n = step.entries.size();
    const JournalEntry first = n > 0 ? step.entries.first() : JournalEntry {};
    QString text;
    switch (step.kind) {
    case Kind::Move:
    case Kind::Copy: {
        const QString box = name(FilingJournal::folderOf(first.to));
        const bool copy = step.kind == Kind::Copy;
        text = n == 1 ? QString::fromUtf16(copy ? T::StepCopy : T::StepMove).arg(name(first.from), box)
                      : QString::fromUtf16(copy ? T::StepCopyMany : T::StepMoveMany).arg(n).arg(box);
        break;
    }
    case Kind::Rename:
        text = QString::fromUtf16(T::StepRename).arg(name(first.from), name(first.to));
        break;
    case Kind::Delete:
        text = n == 1 ? QString::fromUtf16(T::StepDelete).arg(name(first.from))
                      : QString::fromUtf16(T::StepDeleteMany).arg(n);
        break;
    case Kind::BoxAdd:
        text = QString::fromUtf16(T::StepBoxAdd).arg(name(first.from));
        break;
    case Kind::BoxRename:
        text = QString::fromUtf16(T::StepBoxRename).arg(name(first.from), name(first.to));
        break;
    case Kind::BoxDelete:
        text = QString::fromUtf16(T::StepBoxDelete).arg(name(first.from));
        break;
    }
    switch (step.state) {
    case JournalStep::State::Undone:
        text += QString::fromUtf16(T::StepUndone);
        if (step.blocked)
            text += QString::fromUtf16(T::StepCannotRedo);
        break;
    case JournalStep::State::Done:
        if (step.blocked)
            text += QString::fromUtf16(T::StepCannotUndo);
        break;
    case JournalStep::State::Interrupted:
        text += QString::fromUtf16(T::StepInterrupted);
        break;
    case JournalStep::State::Begun:
        text += QString::fromUtf16(T::StepRunning);
        break;
    case JournalStep::State::Empty:
        break;
    }
    return text;
}

void UndoRedo::undo(OperationContext& context)
{
    act(context, true, 0);
}

void UndoRedo::redo(OperationContext& context)
{
    act(context, false, 0);
}

void UndoRedo::act(OperationContext& context, bool undo, qint64 expected)
{
    FilingJournal* journal = context.journal();
    if (!journal)
        return;
    const StoragePaths& paths = context.storagePaths();
    journal->setStorageRoot(paths.AreaBasePath[Area::Vault]);
    // Reached only through the window's actions and the history window's buttons, each of
    // which holds the window's one operation, so no other runs inside this one's waits.
    const JournalOutcome out = undo ? journal->undo(expected) : journal->redo(expected);
    tellJournalTrouble(context, *journal);
    if (out.none) {
        context.services().prompts.message(QString::fromUtf16(undo ? T::NothingToUndo : T::NothingToRedo));
        return;
    }
    if (out.stale) {
        fillHistory(context);
        context.services().prompts.message(
            QString::fromUtf16(T::HistoryChanged), QString::fromUtf16(T::HistoryTitle));
        return;
    }
    // Keys follow a box that an undo or redo renamed back or again.
    if (BoxKeys* keys = context.boxKeys(); keys && out.step.kind == Kind::BoxRename && out.done > 0) {
        const QString vault = paths.AreaBasePath[Area::Vault] + QString::fromUtf16(kVaultName);
        for (const JournalEntry& e : out.step.entries) {
            const QString& was = undo ? e.to : e.from;
            const QString& now = undo ? e.from : e.to;
            if (was.startsWith(vault) && now.startsWith(vault))
                keys->boxRenamed(was.mid(vault.size() + 1), now.mid(vault.size() + 1));
        }
    }
    QStringList touched = out.folders;
    const bool boxes = out.step.kind == Kind::BoxAdd || out.step.kind == Kind::BoxRename
        || out.step.kind == Kind::BoxDelete;
    for (const JournalEntry& e : out.step.entries) {
        context.area(Area::Vault).dropCacheEntries(e.from);
        context.area(Area::Vault).dropCacheEntries(e.to);
        if (boxes)
            touched << e.from << e.to;
    }
    // Each tab that shows a folder the step changed is listed again, once.
    for (Area a : { Area::StockYard, Area::Vault }) {
        BrowsingArea& area = context.area(a);
        const QString base = paths.AreaBasePath[a];
        if (boxes && std::any_of(touched.cbegin(), touched.cend(), [&](const QString& f) {
                return !f.isEmpty() && f.startsWith(base);
            })) {
            const QString marked = area.CurrentNodePath();
            area.rebuildTree();
            area.ReopenTreePath(marked);
        }
        QString listed = area.currentFolder();
        while (listed.endsWith(u'/'))
            listed.chop(1);
        if (!listed.isEmpty() && touched.contains(listed)) {
            reportBrowse(context, area.list(area.currentFolder(), BrowsingArea::ListHow::AfterChange));
            // The choice belonged to the listing that is gone.
            if (context.currentArea() == a)
                context.setPictureSelected(false);
        }
    }
    if (!out.problems.isEmpty()) {
        QStringList lines;
        if (out.total > 1)
            lines << QString::fromUtf16(undo ? T::UndoCount : T::RedoCount)
                         .arg(out.done)
                         .arg(out.total)
                         .arg(words(out.step));
        lines << QString::fromUtf16(undo ? T::NotUndone : T::NotRedone);
        lines << out.problems.mid(0, 20);
        if (out.problems.size() > 20)
            lines << QString::fromUtf16(T::BatchMore).arg(out.problems.size() - 20);
        showError(context, lines.join(u'\r'), undo ? T::UndoError : T::RedoError);
    }
    if (m_history)
        fillHistory(context);
}

void UndoRedo::reportInterrupted(OperationContext& context)
{
    FilingJournal* journal = context.journal();
    if (!journal)
        return;
    tellJournalTrouble(context, *journal);
    const QList<JournalStep> steps = journal->takeInterrupted();
    if (steps.isEmpty())
        return;
    QStringList lines { QString::fromUtf16(T::Interrupted) };
    for (const JournalStep& s : steps) {
        JournalStep shown = s;
        shown.state = JournalStep::State::Done;
        lines << words(shown);
    }
    showError(context, lines.join(u'\r'), T::FilingError);
}

void UndoRedo::showHistory(OperationContext& context)
{
    if (!m_history) {
        auto* dialog = new QDialog(context.ownerWindow(), Qt::Tool);
        dialog->setObjectName(QStringLiteral("History"));
        dialog->setWindowTitle(QString::fromUtf16(T::HistoryTitle));
        dialog->setAccessibleName(QString::fromUtf16(T::HistoryTitle));
        auto* list = new QListWidget(dialog);
        list->setObjectName(QStringLiteral("HistoryList"));
        list->setAccessibleName(QString::fromUtf16(T::AccHistoryList));
        auto button = [&](const char16_t* caption, const char* name) {
            auto* b = new QPushButton(QString::fromUtf16(caption), dialog);
            b->setObjectName(QLatin1String(name));
            b->setAccessibleName(QString::fromUtf16(caption));
            return b;
        };
        QPushButton* undoButton = button(T::HistoryUndo, "HistoryUndo");
        QPushButton* redoButton = button(T::HistoryRedo, "HistoryRedo");
        QPushButton* close = button(T::HistoryClose, "HistoryClose");
        // The buttons take only the step the list shows as the next one.
        // Each a command of its own: nothing while another operation is under way.
        QObject::connect(undoButton, &QPushButton::clicked, dialog, [this, &context] {
            if (const BrowseRun::Hold hold(context.operationRun()); hold)
                act(context, true, m_shownUndo);
        });
        QObject::connect(redoButton, &QPushButton::clicked, dialog, [this, &context] {
            if (const BrowseRun::Hold hold(context.operationRun()); hold)
                act(context, false, m_shownRedo);
        });
        QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::close);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(undoButton);
        buttons->addWidget(redoButton);
        buttons->addStretch();
        buttons->addWidget(close);
        auto* layout = new QVBoxLayout(dialog);
        layout->addWidget(list);
        layout->addLayout(buttons);
        dialog->resize(480, 360);
        // Another window on the same home writes the same journal: looked at while shown.
        auto* poll = new QTimer(dialog);
        poll->setInterval(1000);
        QObject::connect(poll, &QTimer::timeout, dialog, [dialog, &context] {
            // Never inside an operation (its disk call waiting aside): the next tick looks.
            const BrowseRun* run = context.operationRun();
            if (FilingJournal* journal = context.journal();
                journal && dialog->isVisible() && !(run && run->busy()))
                journal->refresh();
        });
        poll->start();
        m_history = dialog;
        m_list = list;
    }
    if (FilingJournal* journal = context.journal()) {
        // The list follows every change of the journal: this window's steps and the others'.
        if (m_watched && m_watched != journal)
            m_watched->setOnChange(nullptr);
        m_watched = journal;
        journal->setOnChange([this, &context] { fillHistory(context); });
        journal->refresh();
    }
    fillHistory(context);
    m_history->show();
    m_history->raise();
}

// Newest first, as a user looks back.
void UndoRedo::fillHistory(OperationContext& context)
{
    if (!m_list)
        return;
    m_list->clear();
    m_shownUndo = m_shownRedo = -1;
    if (FilingJournal* journal = context.journal()) {
        const QList<JournalStep>& steps = journal->steps();
        m_shownUndo = journal->undoStep() ? journal->undoStep() : -1;
        m_shownRedo = journal->redoStep() ? journal->redoStep() : -1;
        for (qsizetype i = steps.size() - 1; i >= 0; --i) {
            auto* item = new QListWidgetItem(words(steps[i]), m_list);
            item->setData(Qt::UserRole, steps[i].id);
            // The row 元に戻す takes back is the current one.
            if (steps[i].id == m_shownUndo)
                m_list->setCurrentItem(item);
        }
    }
}

} // namespace ztv
