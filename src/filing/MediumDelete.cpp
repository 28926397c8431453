#include "filing/MediumDelete.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/Companions.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/texts.h"
#include "imaging/FolderListing.h"
#include "platform/ContentIndex.h"
#include "platform/FileOps.h"
#include "platform/Media.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "platform/SysCalls.h"
#include "platform/WorkAside.h"

#include <QDirIterator>
#include <QHash>
#include <QSet>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

// A picture and its companions (filing/Companions.h): the files of one stem in one folder,
// its pictures first, so a companion is never removed before its picture is gone.
struct Group {
    QStringList files;
    int pictures = 0; // the first ones
};

// Every picture group below top, the medium's own housekeeping and trash left out.
QList<Group> walk(const QString& top)
{
    QHash<QString, QStringList> byStem;
    QSet<QString> pictures;
    QStringList order;
    QDirIterator it(top, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QStringList parts = path.mid(top.size() + 1).split(u'/');
        bool skipped = false;
        for (qsizetype i = 0; i + 1 < parts.size() && !skipped; ++i)
            skipped = isMediumHousekeeping(parts[i]) || parts[i].startsWith(QStringLiteral(".Trash"));
        if (skipped || it.fileInfo().isSymLink())
            continue;
        const bool picture = isPictureFile(path);
        if (!picture && !companions::isCompanion(it.fileName()))
            continue;
        const QString stem = companions::groupKey(path);
        if (!byStem.contains(stem))
            order << stem;
        byStem[stem] << path;
        if (picture)
            pictures.insert(path);
    }
    QList<Group> groups;
    for (const QString& stem : std::as_const(order)) {
        QStringList files = byStem.value(stem);
        files.sort();
        Group g;
        for (const QString& f : std::as_const(files))
            if (pictures.contains(f))
                g.files.insert(g.pictures++, f);
            else
                g.files << f;
        if (g.pictures > 0)
            groups << g;
    }
    return groups;
}

// A file proved: its vault copy, and both as they stood when compared.
struct Proved {
    QString path;
    QString vaultCopy;
    FileStamp medium;
    FileStamp vault;
    int group = 0; // the walk's group
    bool picture = false;
};

struct Survey {
    QList<Proved> going;
    int notInVault = 0;
    int differs = 0;
};

// One group, aside: every member proved, or the whole group stays (counted by its worst reason).
void prove(const ContentIndex& index, const Group& group, int groupIndex, Survey& survey)
{
    const QStringList& files = group.files;
    const QStringList copies = index.copiesInVault(files);
    QList<Proved> proved;
    bool missing = false;
    bool different = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString copy = copies.value(i);
        if (copy.isEmpty() || copy == files[i]) {
            missing = true;
            continue;
        }
        const FileStamp m = fileStamp(files[i]);
        const FileStamp v = fileStamp(copy);
        if (ContentIndex::sameBytes(files[i], copy, ContentIndex::Read::CopyFromDisk)
            && fileStamp(files[i]) == m && fileStamp(copy) == v)
            proved << Proved { files[i], copy, m, v, groupIndex, i < group.pictures };
        else
            different = true;
    }
    if (!missing && !different) {
        survey.going << proved;
        return;
    }
    (missing ? survey.notInVault : survey.differs) += int(files.size());
}

// Whether the medium's own trash (.Trash-<uid> at its top) is there or can be made.
bool trashUsable(const QString& top)
{
    const std::string forced = sys::trashTopForcing();
    const QByteArray at = forced.empty() ? encodePath(top) : QByteArray::fromStdString(forced);
    const QByteArray trash = at + "/.Trash-" + QByteArray::number(::geteuid());
    struct stat st;
    if (::lstat(trash.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && ::access(trash.constData(), W_OK) == 0;
    return ::access(at.constData(), W_OK) == 0;
}

bool lies(const QString& path, const QString& top)
{
    return path == top || path.startsWith(top + u'/');
}

} // namespace

bool MediumDelete::canDelete(const Medium& medium)
{
    if (medium.device.startsWith(QStringLiteral("/dev/sr")) || medium.refusesDeletion)
        return false;
    const QByteArray path = encodePath(medium.path);
    return offMainThread<bool>([path] {
        struct statvfs fs;
        if (::statvfs(path.constData(), &fs) != 0 || (fs.f_flag & ST_RDONLY))
            return false;
        // A phone that refuses writing says so to access().
        return ::access(path.constData(), W_OK) == 0;
    });
}

void MediumDelete::run(OperationContext& context)
{
    BrowsingArea& cd = context.area(Area::Cd);
    const std::optional<Medium> medium = cd.markedMedium();
    ContentIndex* index = context.contentIndex();
    if (!medium || !index || !canDelete(*medium))
        return;
    const Services& s = context.services();
    const QString top = medium->path;
    const QList<Group> groups = waitAside<QList<Group>>([top] { return walk(top); });

    Survey survey;
    const int checked = cd.runSteps(int(groups.size()), QString::fromUtf16(T::MediumChecking),
        [&](int i) { waitAside([&, i, group = groups[i]] { prove(*index, group, i, survey); }, 40, true); });
    if (checked < groups.size())
        return; // stopped: nothing deleted
    const int stay = survey.notInVault + survey.differs;
    if (survey.going.isEmpty()) {
        s.prompts.message(
            QString::fromUtf16(T::MediumNothingToDelete).arg(survey.notInVault).arg(survey.differs),
            QString::fromUtf16(T::MediumDeleteTitle));
        return;
    }
    const bool trash = waitAside<bool>([top] { return trashUsable(top); });
    const QString ask = QString::fromUtf16(trash ? T::MediumDeleteAsk : T::MediumDeleteForeverAsk)
                            .arg(survey.going.size())
                            .arg(stay)
                            .arg(survey.notInVault)
                            .arg(survey.differs);
    if (s.prompts.message(ask, QString::fromUtf16(T::MediumDeleteTitle), PromptIcon::Question,
            PromptButtons::OkCancelDefaultCancel)
        != PromptAnswer::Ok)
        return;

    QStringList planned;
    for (const Proved& p : std::as_const(survey.going))
        planned << p.path;
    BatchOutcome outcome;
    outcome.total = int(planned.size());
    QList<Proved> noTrash; // asked once more at the end, pictures before their companions
    QSet<int> kept; // groups whose picture stays
    QSet<int> waiting; // groups whose picture waits for that question
    {
        StepRecord step(context, JournalStep::Kind::Delete, StepRecord::plan(planned));
        const QList<Proved>& going = survey.going;
        const int ran = cd.runSteps(int(going.size()), QString::fromUtf16(T::DeletingProgress), [&](int i) {
            const Proved& p = going[i];
            // A companion whose picture stays, stays.
            if (!p.picture && kept.contains(p.group)) {
                --outcome.total;
                return;
            }
            // Its picture waits for the question below: so does it.
            if (!p.picture && waiting.contains(p.group)) {
                noTrash << p;
                return;
            }
            // As proved, or not at all.
            const bool same = waitAside<bool>(
                [p] { return fileStamp(p.path) == p.medium && fileStamp(p.vaultCopy) == p.vault; });
            FileResult r;
            if (!same) {
                r = { FileError::Other, QString::fromUtf16(T::MediumChangedSinceCheck) };
            } else if (trash) {
                TrashedFile where;
                r = s.fileOps.trashFile(p.path, where);
                if (r.ok())
                    step.trashed(p.path, where);
                if (r.error == FileError::NoTrash) {
                    noTrash << p;
                    if (p.picture)
                        waiting.insert(p.group);
                    return;
                }
            } else {
                r = s.fileOps.removeFile(p.path);
            }
            if (r.ok()) {
                ++outcome.done;
                outcome.doneFiles << p.path;
            } else {
                if (p.picture)
                    kept.insert(p.group);
                outcome.problems << QString::fromUtf16(T::BatchProblem)
                                        .arg(displayName(GetFileTitle(p.path)),
                                            failureText(r, T::DeleteFileFailed));
            }
        });
        outcome.stopped = ran < going.size();
    }
    // The trash failed after all: deleted for good only when the user says so once more.
    if (!noTrash.isEmpty() && !outcome.stopped) {
        if (s.prompts.message(QString::fromUtf16(T::DeleteSeveralForeverAsk).arg(noTrash.size()),
                QString::fromUtf16(T::MediumDeleteTitle), PromptIcon::None,
                PromptButtons::OkCancelDefaultCancel)
            == PromptAnswer::Ok) {
            for (const Proved& p : std::as_const(noTrash)) {
                const QString& path = p.path;
                if (!p.picture && kept.contains(p.group)) {
                    --outcome.total;
                    continue;
                }
                const FileResult r = s.fileOps.removeFile(path);
                if (p.picture && !r.ok())
                    kept.insert(p.group);
                if (r.ok()) {
                    ++outcome.done;
                    outcome.doneFiles << path;
                } else {
                    outcome.problems << QString::fromUtf16(T::BatchProblem)
                                            .arg(displayName(GetFileTitle(path)),
                                                failureText(r, T::DeleteFileFailed));
                }
            }
        } else {
            outcome.total -= int(noTrash.size());
        }
    }
    for (const QString& file : std::as_const(outcome.doneFiles))
        cd.dropCacheEntries(file);
    if (lies(cd.ListedFolder(), top))
        reportBrowse(context, cd.list(cd.currentFolder(), BrowsingArea::ListHow::AfterChange));
    reportBatch(context, outcome, T::BatchDeleted, T::DeleteError);
}

} // namespace ztv
