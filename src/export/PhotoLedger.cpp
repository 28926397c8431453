#include "export/PhotoLedger.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "export/LedgerWorkbook.h"
#include "export/texts.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "platform/Spreadsheet.h"
#include "platform/WorkAside.h"
#include "values/StoragePaths.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtConcurrent>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <numeric>
#include <unistd.h>

namespace ztv {

namespace {

namespace t = exporttexts;

QString tx(const char16_t* text)
{
    return QString::fromUtf16(text);
}

std::optional<PhotoLedger::Target> askWithFileDialog(QWidget* owner, const QString& proposed, bool pdfOffered)
{
    QFileDialog dialog(owner, tx(t::LedgerSaveCaption), proposed);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    QStringList filters { tx(t::LedgerFilterXlsx) };
    // Without LibreOffice no PDF can be made, so the choice is not offered.
    if (pdfOffered)
        filters << tx(t::LedgerFilterXlsxPdf);
    dialog.setNameFilters(filters);
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return PhotoLedger::Target { dialog.selectedFiles().constFirst(),
        pdfOffered && dialog.selectedNameFilter() == tx(t::LedgerFilterXlsxPdf) };
}

// A new, empty file of a free name in folder (created with the permissions of any new file,
// unlike a temporary file's owner-only ones), removed again unless taken away by a rename.
class PartialFile {
public:
    explicit PartialFile(const QString& folder)
    {
        for (int attempt = 0; attempt < 100 && m_name.isEmpty(); ++attempt) {
            const QString name = folder
                + QStringLiteral("/.zentovi-ledger-%1.xlsx")
                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            const int fd
                = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                m_name = name;
            } else if (errno != EEXIST) {
                break;
            }
        }
    }
    ~PartialFile()
    {
        if (!m_name.isEmpty())
            ::unlink(QFile::encodeName(m_name).constData());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    QString fileName() const { return m_name; }
    bool renameTo(const QString& path)
    {
        if (std::rename(QFile::encodeName(m_name).constData(), QFile::encodeName(path).constData()) != 0)
            return false;
        m_name.clear();
        return true;
    }

private:
    QString m_name;
};

// Esc pressed while the PDF is made stops the office (the run's own watch sees the key too).
class EscapeWatch : public QObject {
public:
    EscapeWatch() { qApp->installEventFilter(this); }
    ~EscapeWatch() override { qApp->removeEventFilter(this); }
    std::shared_ptr<std::atomic<bool>> pressed = std::make_shared<std::atomic<bool>>(false);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            pressed->store(true);
        return QObject::eventFilter(watched, event);
    }
};

bool isInside(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QString f = QDir::cleanPath(folder);
    const QString p = QDir::cleanPath(path);
    return p == f || p.startsWith(f + u'/');
}

// What the caption says of the file's place: its box below the vault, else the area's name.
QString boxText(const QString& path, Area area, const StoragePaths& paths)
{
    const QString folder = QFileInfo(path).absolutePath();
    switch (area) {
    case Area::Vault:
        if (isInside(folder, paths.VaultPath) && QDir::cleanPath(folder) != QDir::cleanPath(paths.VaultPath))
            return QDir(paths.VaultPath).relativeFilePath(folder);
        return QString::fromUtf16(kVaultName);
    case Area::StockYard:
        return QString::fromUtf16(kStockYardName);
    case Area::Cd:
        break;
    }
    return tx(t::LedgerCdArea);
}

} // namespace

PhotoLedger::PhotoLedger()
    : m_ask(askWithFileDialog)
{
}

QString PhotoLedger::proposedName(const QString& folderName, const QDate& date)
{
    QString folder = folderName;
    folder.replace(u'/', u'_');
    return tx(t::LedgerFileName).arg(folder, date.toString(QStringLiteral("yyyyMMdd")));
}

void PhotoLedger::make(OperationContext& context, Order order)
{
    const std::optional<Area> area = context.currentArea();
    if (!area)
        return;
    const Services& s = context.services();
    Prompts& prompts = s.prompts;
    BrowsingArea& tab = context.area(*area);

    // The chosen pictures in the page's order; with none chosen, the whole listed page.
    QStringList files;
    if (tab.chosenCount() > 0) {
        const std::optional<QList<PictureChoice>> chosen = tab.chosenToActOn(prompts, t::LedgerTitle);
        if (!chosen)
            return;
        for (const PictureChoice& c : *chosen)
            files << c.path;
        const QStringList& page = tab.HiddenList();
        std::stable_sort(files.begin(), files.end(),
            [&page](const QString& a, const QString& b) { return page.indexOf(a) < page.indexOf(b); });
    } else {
        files = tab.HiddenList();
    }
    if (files.isEmpty()) {
        prompts.message(tx(t::LedgerNoPictures), tx(t::LedgerTitle), PromptIcon::Information);
        return;
    }
    if (files.size() > LedgerWorkbook::MaxBlocks) {
        prompts.message(
            tx(t::LedgerTooMany).arg(LedgerWorkbook::MaxBlocks), tx(t::LedgerTitle), PromptIcon::Exclamation);
        return;
    }

    QString folderName = QFileInfo(tab.currentFolder()).fileName();
    if (folderName.isEmpty())
        folderName = tab.RootName();
    const QString title = prompts.input(tx(t::LedgerTitlePrompt), tx(t::LedgerTitle), folderName);
    if (title.trimmed().isEmpty())
        return;

    // The office is asked aside: its answer can take a moment on a busy machine.
    Spreadsheet& office = s.spreadsheet;
    const std::optional<Spreadsheet::Info> info = waitAside<std::optional<Spreadsheet::Info>>([&office] {
        try {
            return office.applicationInfo();
        } catch (...) {
            return std::optional<Spreadsheet::Info>();
        }
    });
    const bool pdfOffered = info && !info->installPath.isEmpty();
    const bool opensInApplication = Spreadsheet::usable(info);
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QFileInfo(documents).isDir())
        documents = QDir::homePath();
    const QString proposed = documents + u'/' + proposedName(folderName, QDate::currentDate());
    const std::optional<Target> target = m_ask(context.ownerWindow(), proposed, pdfOffered);
    if (!target || target->path.isEmpty())
        return;
    QString path = target->path;
    if (QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".xlsx");
    const StoragePaths& paths = context.storagePaths();
    if (isInside(path, paths.StockYardPath) || isInside(path, paths.VaultPath)
        || isInside(path, paths.AreaBasePath[Area::Vault])) {
        prompts.message(tx(t::LedgerInStorage), tx(t::LedgerTitle), PromptIcon::Exclamation);
        return;
    }
    // The dialog confirmed only the name it showed: a name made here replaces nothing unasked.
    auto mayReplace = [&prompts](const QString& file) {
        return !QFileInfo::exists(file)
            || prompts.message(tx(t::LedgerReplaceAsk).arg(QFileInfo(file).fileName()), tx(t::LedgerTitle),
                   PromptIcon::Exclamation, PromptButtons::OkCancel)
            == PromptAnswer::Ok;
    };
    if (path != target->path && !mayReplace(path))
        return;
    const bool wantPdf = target->pdf && pdfOffered;
    const QString pdfPath
        = QFileInfo(path).path() + u'/' + QFileInfo(path).completeBaseName() + QStringLiteral(".pdf");
    if (wantPdf && !mayReplace(pdfPath))
        return;

    // Dates first (a short read of each file's start), so the date order is known before any
    // picture is written.
    const QList<LedgerFacts> facts = waitAside<QList<LedgerFacts>>(
        [files] { return QtConcurrent::blockingMapped<QList<LedgerFacts>>(files, readLedgerFacts); });
    QList<int> sequence(files.size());
    std::iota(sequence.begin(), sequence.end(), 0);
    if (order == Order::DateTaken)
        std::stable_sort(sequence.begin(), sequence.end(),
            [&facts](int a, int b) { return facts[a].taken < facts[b].taken; });

    // Written under a name of its own beside the chosen one, renamed when whole.
    PartialFile partial(QFileInfo(path).path());
    if (partial.fileName().isEmpty()) {
        prompts.message(tx(t::LedgerWriteFailed).arg(path), tx(t::LedgerTitle), PromptIcon::Critical);
        return;
    }
    auto workbook = std::make_unique<LedgerWorkbook>(partial.fileName(), title);
    if (!workbook->isOpen()) {
        prompts.message(tx(t::LedgerWriteFailed).arg(path), tx(t::LedgerTitle), PromptIcon::Critical);
        return;
    }

    const int count = int(files.size());
    QStringList inOrder;
    for (int index : sequence)
        inOrder << files[index];
    auto decoder = std::make_unique<LedgerDecoder>(inOrder);
    QStringList unreadable;
    bool written = false;
    bool pdfMade = false;
    bool pdfStopped = false;
    const int steps = tab.runSteps(count, tx(t::LedgerProgress), [&](int i) {
        QFuture<LedgerPicture> next = decoder->picture(i);
        waitAside([next]() mutable { next.waitForFinished(); }, 40, true);
        const LedgerPicture picture = next.result();
        const int index = sequence[i];
        const QString name = QFileInfo(files[index]).fileName();
        LedgerBlock block { workbook->blockCount() + 1, ledgerDateText(facts[index].taken), name,
            boxText(files[index], *area, paths), picture };
        if (!facts[index].readable || !workbook->add(block))
            unreadable << name;
        if (m_stepHook)
            m_stepHook(i);
        if (i + 1 < count || workbook->blockCount() == 0)
            return;
        // The last picture: the file is written and renamed while the run still holds the window.
        tab.showStepLine(tx(t::LedgerSaving));
        LedgerWorkbook* book = workbook.get();
        written = waitAside<bool>([book] { return book->close(); });
        written = written && partial.renameTo(path);
        if (written && wantPdf) {
            tab.showStepLine(tx(t::LedgerMakingPdf));
            EscapeWatch escape;
            pdfMade = waitAside<bool>(
                [&office, path, pdfPath, stop = escape.pressed] {
                    return office.convertToPdf(path, pdfPath, stop.get());
                },
                40, true);
            pdfStopped = !pdfMade && escape.pressed->load();
        }
    });
    decoder.reset(); // stops the decodes still under way
    workbook.reset(); // an unclosed workbook writes nothing; the partial file goes with `partial`

    QString unreadableText;
    if (!unreadable.isEmpty())
        unreadableText = u'\r' + tx(t::LedgerUnreadable) + u'\r' + unreadable.join(u'\r');
    if (steps < count) {
        prompts.message(tx(t::LedgerStopped), tx(t::LedgerTitle), PromptIcon::Information);
        return;
    }
    if (unreadable.size() == count) {
        prompts.message(
            tx(t::LedgerNoneReadable) + unreadableText, tx(t::LedgerTitle), PromptIcon::Exclamation);
        return;
    }
    if (!written) {
        prompts.message(tx(t::LedgerWriteFailed).arg(path), tx(t::LedgerTitle), PromptIcon::Critical);
        return;
    }
    QString closing;
    if (wantPdf && !pdfMade)
        closing += u'\r' + tx(pdfStopped ? t::LedgerPdfStopped : t::LedgerPdfFailed);
    if (opensInApplication && s.spreadsheet.openDocument(path)) {
        // The application shows the ledger; only what went wrong is told.
        const QString faults = closing + unreadableText;
        if (!faults.isEmpty())
            prompts.message(faults.mid(1), tx(t::LedgerTitle), PromptIcon::Exclamation);
        return;
    }
    QString text = tx(t::LedgerDone).arg(count - unreadable.size()).arg(path);
    if (pdfMade)
        text += u'\r' + tx(t::LedgerPdfDone).arg(pdfPath);
    prompts.message(text + closing + unreadableText, tx(t::LedgerTitle),
        unreadable.isEmpty() && closing.isEmpty() ? PromptIcon::Information : PromptIcon::Exclamation);
}

} // namespace ztv
