#include "filing/CardImport.h"

#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/Companions.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/SetFolder.h"
#include "filing/texts.h"
#include "imaging/FolderListing.h"
#include "platform/ContentIndex.h"
#include "platform/Media.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "platform/WorkAside.h"
#include "values/StoragePaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <memory>
#include <sys/stat.h>

namespace ztv {

namespace T = filingtexts;
using namespace companions;

namespace {

// A medium file proved to have its bytes in the vault, so a later run need not read it again:
// the medium file by device, inode, size and time, the vault copy by path, size and time.
// Kept beside the content index's cache, one file per vault.
class ProvedCopies {
public:
    static std::shared_ptr<ProvedCopies> forVault(const QString& vaultRoot)
    {
        static QMutex lock;
        static QHash<QString, std::weak_ptr<ProvedCopies>> open;
        QMutexLocker g(&lock);
        const QString file = ContentIndex::defaultCacheFile(vaultRoot) + QStringLiteral(".proved");
        std::shared_ptr<ProvedCopies> found = open.value(file).lock();
        if (!found) {
            found = std::make_shared<ProvedCopies>(vaultRoot, file);
            open.insert(file, found);
        }
        return found;
    }

    ProvedCopies(QString vaultRoot, QString file)
        : m_vault(std::move(vaultRoot))
        , m_file(std::move(file))
    {
        QFile in(m_file);
        if (in.size() > (qint64(64) << 20) || !in.open(QIODevice::ReadOnly))
            return;
        while (!in.atEnd()) {
            const QList<QByteArray> f = in.readLine().trimmed().split('\t');
            if (f.size() == 4)
                m_known.insert(f[0], { decodePath(f[1]), f[2].toLongLong(), f[3].toLongLong() });
        }
    }

    // The vault copy of the medium file as it stands, if one was proved and is still unchanged.
    QString copyOf(const FileStamp& medium) const
    {
        Copy c;
        {
            QMutexLocker g(&m_lock);
            c = m_known.value(key(medium));
        }
        if (c.path.isEmpty() || !c.path.startsWith(m_vault + QLatin1Char('/')))
            return {};
        const FileStamp now = fileStamp(c.path);
        return now.size == c.size && now.modifiedNs == c.modifiedNs && now.size == medium.size ? c.path
                                                                                               : QString();
    }

    void remember(const FileStamp& medium, const QString& copy)
    {
        const FileStamp c = fileStamp(copy);
        if (c.size != medium.size)
            return;
        QMutexLocker g(&m_lock);
        m_known.insert(key(medium), { copy, c.size, c.modifiedNs });
        m_dirty = true;
    }

    // Written whole through a temporary file; a failure only costs a slower next run.
    void save()
    {
        QByteArray text;
        {
            QMutexLocker g(&m_lock);
            if (!m_dirty)
                return;
            m_dirty = false;
            for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
                text += it.key() + '\t' + encodePath(it->path) + '\t' + QByteArray::number(it->size) + '\t'
                    + QByteArray::number(it->modifiedNs) + '\n';
        }
        QDir().mkpath(QFileInfo(m_file).path());
        QSaveFile out(m_file);
        if (out.open(QIODevice::WriteOnly) && out.write(text) == text.size())
            out.commit();
    }

private:
    struct Copy {
        QString path;
        qint64 size = -1;
        qint64 modifiedNs = 0;
    };
    static QByteArray key(const FileStamp& s)
    {
        return QByteArray::number(s.device) + ':' + QByteArray::number(s.inode) + ':'
            + QByteArray::number(s.size) + ':' + QByteArray::number(s.modifiedNs);
    }

    const QString m_vault;
    const QString m_file;
    mutable QMutex m_lock;
    QHash<QByteArray, Copy> m_known;
    bool m_dirty = false;
};

// One file of a picture's group: the picture itself or a companion.
struct Member {
    QString path;
    QString stem;
    QString rest;
    FileStamp stamp;
    bool needed = true; // its content is not in the vault

    QString name(int number) const
    {
        return number <= 1 ? stem + rest : stem + QStringLiteral(" (%1)").arg(number) + rest;
    }
};

struct Group {
    QList<Member> members;
    int number = 1; // the name's number every copy of the group takes
    bool picture = false; // a picture is among its files: the group is filed
};

// The card as walked: every file below the folder by folder and stem, with its stamp.
struct Walk {
    QList<Group> groups;
    int files = 0;
    qint64 bytes = 0;
};

constexpr int kMaxNumber = 999;

// A run of several hundred waits, each a few tens of ms on a card: the window paints within
// each of them, not only after the longest.
constexpr int EventsAfterMs = 10;

// The files below folder, by folder and stem; hidden folders and a medium's housekeeping
// are passed over. Only names and stamps are read.
Walk walkCard(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QStringList parts = path.mid(folder.size() + 1).split(QLatin1Char('/'));
        const bool hidden = std::any_of(parts.cbegin(), parts.cend() - 1,
            [](const QString& p) { return p.startsWith(QLatin1Char('.')) || isMediumHousekeeping(p); });
        if (!hidden && !parts.last().startsWith(QLatin1Char('.')))
            files << path;
    }
    std::sort(files.begin(), files.end());
    Walk walk;
    QHash<QString, qsizetype> byKey;
    for (const QString& f : std::as_const(files)) {
        const qsizetype slash = f.lastIndexOf(QLatin1Char('/'));
        const auto [stem, rest] = splitName(f.mid(slash + 1));
        const QString key = groupKey(f);
        auto found = byKey.constFind(key);
        if (found == byKey.cend()) {
            found = byKey.insert(key, walk.groups.size());
            walk.groups.append(Group());
        }
        const Member m { f, stem, rest, fileStamp(f) };
        walk.groups[*found].members << m;
        ++walk.files;
        walk.bytes += m.stamp.size;
    }
    return walk;
}

// Which of the group's files go and under which number: its pictures (by content) and their
// companions, less what the vault holds (asked of what was proved before, then of the index,
// then of a file of the same name in the box).
Group classify(
    Group g, const QString& box, const QSet<QString>& taken, const ContentIndex* index, ProvedCopies& proved)
{
    QList<Member> kept;
    QStringList unknown;
    for (Member& m : g.members) {
        const QString name = m.stem + m.rest;
        const bool mayBePicture = !isSidecar(name) && !isMotionClip(name);
        // A file proved before was taken then: its head is not read again.
        const bool known = !proved.copyOf(m.stamp).isEmpty();
        // A camera's own formats are taken by their names: reading each head first would read
        // a slow card once more. Anything else is a picture by its content.
        const bool isPicture = mayBePicture && (known || isCameraPicture(name) || isPictureFile(m.path));
        if (!isCompanion(name) && !isPicture)
            continue;
        g.picture = g.picture || isPicture;
        m.needed = !known;
        if (m.needed)
            unknown << m.path;
        kept << m;
    }
    g.members = kept;
    if (!g.picture || unknown.isEmpty())
        return g;
    const QStringList copies = index ? index->copiesInVault(unknown) : QStringList();
    for (Member& m : g.members) {
        if (!m.needed)
            continue;
        const qsizetype at = unknown.indexOf(m.path);
        QString copy = at < copies.size() ? copies[at] : QString();
        // The same name in the box with the same bytes: that is its copy, whatever the index
        // has read so far.
        const QString same = box + QLatin1Char('/') + m.name(1);
        if (copy.isEmpty() && taken.contains(m.name(1)) && ContentIndex::sameBytes(m.path, same))
            copy = same;
        if (!copy.isEmpty()) {
            m.needed = false;
            proved.remember(m.stamp, copy);
        }
    }
    // The lowest number under which every file still to copy finds its name free.
    while (g.number < kMaxNumber && std::any_of(g.members.cbegin(), g.members.cend(), [&](const Member& m) {
        return m.needed && taken.contains(m.name(g.number));
    }))
        ++g.number;
    return g;
}

QString problem(const QString& path, const QString& reason)
{
    return QString::fromUtf16(T::BatchProblem).arg(displayName(GetFileTitle(path)), reason);
}

void report(OperationContext& context, const CardImport::Outcome& out)
{
    QStringList lines { QString::fromUtf16(T::ImportCopied).arg(out.copied) };
    if (out.inVault > 0)
        lines << QString::fromUtf16(T::ImportInVault).arg(out.inVault);
    if (out.renamed > 0)
        lines << QString::fromUtf16(T::ImportRenamed).arg(out.renamed);
    if (out.stopped)
        lines << QString::fromUtf16(T::BatchStopped);
    if (out.problems.isEmpty()) {
        context.services().prompts.message(lines.join(u'\r'));
        return;
    }
    constexpr int shown = 20; // a message box taller than the screen would hide its button
    lines << QString::fromUtf16(T::BatchNotDone) << out.problems.mid(0, shown);
    if (out.problems.size() > shown)
        lines << QString::fromUtf16(T::BatchMore).arg(out.problems.size() - shown);
    filing::showError(context, lines.join(u'\r'), T::ImportError);
}

} // namespace

void CardImport::start(OperationContext& context)
{
    const QString folder = context.area(Area::Cd).markedFolder();
    if (folder.isEmpty())
        return;
    m_folder = folder;
    if (m_chooser)
        m_chooser->close();
    m_chooser = new SetFolder(
        context.ownerWindow(), context.storagePaths().AreaBasePath[Area::Vault], true,
        [this, &context](const QString& destination) {
            if (const BrowseRun::Hold hold(context.operationRun()); hold)
                importInto(context, m_folder, destination);
        },
        [](SetFolder*) {});
    BrowseRun* run = context.operationRun();
    m_chooser->setBusy([run] { return run && run->busy(); });
    m_chooser->show();
    m_chooser->raise();
    m_chooser->activateWindow();
}

CardImport::Outcome CardImport::importInto(
    OperationContext& context, const QString& folder, const QString& destination)
{
    Outcome out;
    const QString vaultBase = context.storagePaths().AreaBasePath[Area::Vault];
    const QString box = vaultBase + destination;
    const ContentIndex* index = context.contentIndex();
    const std::shared_ptr<ProvedCopies> proved = ProvedCopies::forVault(
        index ? index->vaultRoot() : QDir::cleanPath(vaultBase + QString::fromUtf16(T::VaultRoot)));
    // Every disk call on the card runs aside, so the window answers however slow the card is;
    // the card is looked at group by group within the run, so the line counts from the start.
    const Walk walk = waitAside<Walk>([folder] { return walkCard(folder); }, EventsAfterMs);
    QSet<QString> taken = waitAside<QSet<QString>>([box] { return FileNamesIn(box); }, EventsAfterMs);

    std::optional<StepRecord> step;
    if (!walk.groups.isEmpty()) {
        QList<JournalEntry> entries;
        for (const Group& g : walk.groups)
            for (const Member& m : g.members)
                entries.append({ m.path, box + QLatin1Char('/') + m.name(1), {}, {}, {}, false });
        step.emplace(context, JournalStep::Kind::Copy, entries);
    }
    BrowsingArea& cd = context.area(Area::Cd);
    BrowsingArea& vault = context.area(Area::Vault);
    FileOps& ops = context.services().fileOps;
    constexpr qint64 MB = 1000 * 1000;
    int filesDone = 0;
    qint64 bytesDone = 0;
    bool anyPicture = false;
    QList<std::pair<FileStamp, QString>> copied; // remembered as proved once the run ends
    auto showLine = [&] {
        cd.showStepLine(QString::fromUtf16(T::ImportProgress)
                            .arg(filesDone)
                            .arg(walk.files)
                            .arg(bytesDone / MB)
                            .arg((walk.bytes + MB - 1) / MB));
    };
    const int total = int(walk.groups.size());
    const int ran = cd.runSteps(total, QString::fromUtf16(T::FilingProgress), [&](int i) {
        showLine();
        const Group& walked = walk.groups[i];
        Group g = waitAside<Group>(
            [walked, box, taken, index, proved] { return classify(walked, box, taken, index, *proved); },
            EventsAfterMs);
        for (const Member& m : walked.members) {
            const auto kept = std::find_if(
                g.members.cbegin(), g.members.cend(), [&](const Member& k) { return k.path == m.path; });
            if (kept == g.members.cend() || !kept->needed) {
                ++filesDone;
                bytesDone += m.stamp.size;
            }
        }
        if (!g.picture)
            return;
        anyPicture = true;
        for (const Member& m : std::as_const(g.members)) {
            if (m.needed)
                continue;
            ++out.inVault;
        }
        for (const Member& m : std::as_const(g.members)) {
            if (!m.needed || out.stopped)
                continue;
            showLine();
            // The card's file as the walk found it: no disk call on the window's thread.
            const FileIdentity before { m.stamp.device, m.stamp.inode, m.stamp.size, m.stamp.modifiedNs };
            FileResult result;
            QString to;
            // Never onto a stored file: a name taken meanwhile gives the group the next number.
            for (;;) {
                to = box + QLatin1Char('/') + m.name(g.number);
                result = filing::copyWatched(cd, ops, m.path, to, nullptr);
                if (result.error != FileError::Exists || g.number >= kMaxNumber)
                    break;
                ++g.number;
            }
            ++filesDone;
            bytesDone += m.stamp.size;
            if (result.ok()) {
                step->copied(m.path, to, before);
                vault.dropCacheEntries(to); // the content index learns the copy
                copied.append({ m.stamp, to });
                taken.insert(GetFileTitle(to));
                out.filed.append({ m.path, to });
                ++out.copied;
                if (g.number > 1)
                    ++out.renamed;
            } else if (result.error == FileError::Cancelled) {
                out.stopped = true;
            } else {
                out.problems << problem(m.path, filing::failureText(result, T::FilingError));
            }
        }
    });
    out.stopped = out.stopped || ran < total;
    waitAside(
        [proved, copied] {
            for (const auto& [stamp, to] : copied)
                proved->remember(stamp, to);
            proved->save();
        },
        EventsAfterMs);
    if (step) {
        if (out.copied > 0)
            out.step = step->id();
        step.reset();
    }
    if (out.copied > 0) {
        vault.ReopenTreePath(destination);
        filing::reportBrowse(context, vault.list(box + QLatin1Char('/'), BrowsingArea::ListHow::AfterChange));
    }
    if (!anyPicture && !out.stopped) {
        context.services().prompts.message(QString::fromUtf16(T::ImportNothing));
        return out;
    }
    // Closing the window stopped it: nobody is left to read the message.
    if (!out.stopped || context.ownerWindow()->isVisible())
        report(context, out);
    return out;
}

} // namespace ztv
