#include "filing/MediumDelete.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
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
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

// Files that travel with the picture of their stem; RAW files are pictures themselves.
bool isCompanion(const QString& path)
{
    static const QSet<QString> kinds { QStringLiteral("mov"), QStringLiteral("aae"), QStringLiteral("xmp") };
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > path.lastIndexOf(u'/') && kinds.contains(path.mid(dot + 1).toLower());
}

QString stemOf(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > path.lastIndexOf(u'/') ? path.left(dot) : path;
}

// A picture and its companions: the files of one stem in one folder.
using Group = QStringList;

// Every picture group below top, the medium's own housekeeping and trash left out.
QList<Group> walk(const QString& top)
{
    QHash<QString, Group> byStem;
    QSet<QString> withPicture;
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
        if (!picture && !isCompanion(path))
            continue;
        const QString stem = stemOf(path);
        if (!byStem.contains(stem))
            order << stem;
        byStem[stem] << path;
        if (picture)
            withPicture.insert(stem);
    }
    QList<Group> groups;
    for (const QString& stem : std::as_const(order)) {
        if (withPicture.contains(stem)) {
            Group g = byStem.value(stem);
            g.sort();
            groups << g;
        }
    }
    return groups;
}

struct Unique {
    explicit Unique(int fd)
        : fd(fd)
    {
    }
    ~Unique()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
};

// Whether the vault file holds exactly the medium file's bytes as the vault's disk keeps them:
// its cached pages are dropped first, so what is compared is read from the disk, not memory.
bool sameOnDisk(const QString& mediumFile, const QString& vaultFile)
{
    const Unique medium(sys::openat(AT_FDCWD, encodePath(mediumFile).constData(), O_RDONLY | O_CLOEXEC));
    const Unique vault(sys::openat(AT_FDCWD, encodePath(vaultFile).constData(), O_RDONLY | O_CLOEXEC));
    struct stat a, b;
    if (medium.fd < 0 || vault.fd < 0 || ::fstat(medium.fd, &a) != 0 || ::fstat(vault.fd, &b) != 0
        || !S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) || a.st_size != b.st_size)
        return false;
    ::posix_fadvise(vault.fd, 0, 0, POSIX_FADV_DONTNEED);
    constexpr size_t Block = 1 << 20;
    const std::unique_ptr<char[]> x(new char[Block]), y(new char[Block]);
    auto fill = [](int fd, char* buf, size_t want) -> ssize_t {
        size_t got = 0;
        while (got < want) {
            const ssize_t n = sys::read(fd, buf + got, want - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            got += size_t(n);
        }
        return ssize_t(got);
    };
    off_t left = a.st_size;
    while (left > 0) {
        const size_t want = size_t(std::min<off_t>(left, Block));
        if (fill(medium.fd, x.get(), want) != ssize_t(want) || fill(vault.fd, y.get(), want) != ssize_t(want)
            || std::memcmp(x.get(), y.get(), want) != 0)
            return false;
        left -= off_t(want);
    }
    // Neither grew meanwhile.
    return fill(medium.fd, x.get(), 1) == 0 && fill(vault.fd, y.get(), 1) == 0;
}

// A file proved: its vault copy, and both as they stood when compared.
struct Proved {
    QString path;
    QString vaultCopy;
    FileStamp medium;
    FileStamp vault;
};

struct Survey {
    QList<Proved> going;
    int notInVault = 0;
    int differs = 0;
};

// One group, aside: every member proved, or the whole group stays (counted by its worst reason).
void prove(const ContentIndex& index, const Group& group, Survey& survey)
{
    const QStringList copies = index.copiesInVault(group);
    QList<Proved> proved;
    bool missing = false;
    bool different = false;
    for (qsizetype i = 0; i < group.size(); ++i) {
        const QString copy = copies.value(i);
        if (copy.isEmpty() || copy == group[i]) {
            missing = true;
            continue;
        }
        const FileStamp m = fileStamp(group[i]);
        const FileStamp v = fileStamp(copy);
        if (sameOnDisk(group[i], copy) && fileStamp(group[i]) == m && fileStamp(copy) == v)
            proved << Proved { group[i], copy, m, v };
        else
            different = true;
    }
    if (!missing && !different) {
        survey.going << proved;
        return;
    }
    (missing ? survey.notInVault : survey.differs) += int(group.size());
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
        [&](int i) { waitAside([&, group = groups[i]] { prove(*index, group, survey); }, 40, true); });
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
    QStringList noTrash;
    {
        StepRecord step(context, JournalStep::Kind::Delete, StepRecord::plan(planned));
        const QList<Proved>& going = survey.going;
        const int ran = cd.runSteps(int(going.size()), QString::fromUtf16(T::DeletingProgress), [&](int i) {
            const Proved& p = going[i];
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
                    noTrash << p.path;
                    return;
                }
            } else {
                r = s.fileOps.removeFile(p.path);
            }
            if (r.ok()) {
                ++outcome.done;
                outcome.doneFiles << p.path;
            } else {
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
            for (const QString& path : std::as_const(noTrash)) {
                const FileResult r = s.fileOps.removeFile(path);
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
