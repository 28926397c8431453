#include "filing/History.h"

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
#include <QVBoxLayout>

namespace ztv {

namespace T = filingtexts;
using namespace filing;
using Kind = JournalStep::Kind;

StepRecord::StepRecord(OperationContext& context, Kind kind, const QList<JournalEntry>& plan)
    : m_journal(context.journal())
{
    if (!m_journal)
        return;
    m_id = m_journal->begin(kind, plan);
    if (m_journal->tellFailure())
        showError(context, T::JournalError, T::FilingError);
}

StepRecord::~StepRecord()
{
    if (m_journal)
        m_journal->finish(m_id, m_done);
}

void StepRecord::moved(const QString& from, const QString& to)
{
    m_done.append({ from, to, {}, FilingJournal::identityAt(to), {}, true });
}

void StepRecord::copied(const QString& from, const QString& to, const FileIdentity& source)
{
    m_done.append({ from, to, {}, FilingJournal::identityAt(to), source, true });
}

void StepRecord::trashed(const QString& from, const TrashedFile& where)
{
    m_done.append({ from, where.file, where.record, FilingJournal::identityAt(where.file), {}, true });
}

void StepRecord::folder(const QString& from, const QString& to)
{
    m_done.append({ from, to, {}, {}, {}, true });
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
    if (step.state == JournalStep::State::Undone)
        text += QString::fromUtf16(T::StepUndone);
    else if (step.state == JournalStep::State::Interrupted || step.state == JournalStep::State::Begun)
        text += QString::fromUtf16(T::StepInterrupted);
    return text;
}

void UndoRedo::undo(OperationContext& context)
{
    act(context, true);
}

void UndoRedo::redo(OperationContext& context)
{
    act(context, false);
}

void UndoRedo::act(OperationContext& context, bool undo)
{
    FilingJournal* journal = context.journal();
    if (!journal)
        return;
    // Nothing may move under a run of the tab, nor under the chooser's request.
    const JournalOutcome out = undo ? journal->undo() : journal->redo();
    if (out.none) {
        context.services().prompts.message(QString::fromUtf16(undo ? T::NothingToUndo : T::NothingToRedo));
        return;
    }
    const StoragePaths& paths = context.storagePaths();
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
            relistAfterChange(context, a, area.currentFolder(), true);
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
        QObject::connect(undoButton, &QPushButton::clicked, dialog, [this, &context] { undo(context); });
        QObject::connect(redoButton, &QPushButton::clicked, dialog, [this, &context] { redo(context); });
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
        m_history = dialog;
        m_list = list;
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
    if (FilingJournal* journal = context.journal()) {
        const QList<JournalStep>& steps = journal->steps();
        for (qsizetype i = steps.size() - 1; i >= 0; --i)
            m_list->addItem(words(steps[i]));
    }
}

} // namespace ztv
