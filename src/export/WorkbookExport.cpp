#include "export/WorkbookExport.h"

#include "export/texts.h"
#include "imaging/ExtraFormats.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/Prompts.h"
#include "platform/Spreadsheet.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ZENTOVI_DATA_DIR
#define ZENTOVI_DATA_DIR "/usr/local/share/zentovi"
#define ZENTOVI_DATA_FROM_BIN "../share/zentovi"
#endif

namespace ztv {

WorkbookExport::WorkbookExport(Prompts& prompts, FileOps& files, Spreadsheet& spreadsheet,
    QStringList templateFolders, QString workFolder)
    : m_prompts(prompts)
    , m_files(files)
    , m_spreadsheet(spreadsheet)
    , m_templateFolders(std::move(templateFolders))
    , m_workFolder(std::move(workFolder))
{
}

QStringList WorkbookExport::standardTemplateFolders()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    return { programDir, QDir::cleanPath(programDir + QStringLiteral("/" ZENTOVI_DATA_FROM_BIN)),
        QStringLiteral(ZENTOVI_DATA_DIR) };
}

QString WorkbookExport::standardWorkFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

QString WorkbookExport::templatePath() const
{
    for (const QString& folder : m_templateFolders) {
        const QString path = folder + u'/' + QString::fromUtf16(kTemplateName);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString WorkbookExport::workbookPath() const
{
    return m_workFolder + u'/' + QString::fromUtf16(kWorkbookName);
}

QString WorkbookExport::lockFilePath() const
{
    return m_workFolder + QStringLiteral("/.~lock.") + QString::fromUtf16(kWorkbookName) + u'#';
}

void WorkbookExport::run(const QString& picturePath)
{
    const QString source = templatePath();
    if (source.isEmpty()) {
        m_prompts.message(QString::fromUtf16(exporttexts::kTemplateMissing),
            QString::fromUtf16(exporttexts::kSystemErrorTitle), PromptIcon::Critical, PromptButtons::Ok);
        return;
    }
    // From here on nothing is reported. A working copy that cannot be removed stays and is
    // opened with its old content, since the copy never replaces it.
    QDir().mkpath(m_workFolder);
    const QString workbook = workbookPath();
    m_files.removeFile(workbook);
    // A lock file left by an office that no longer holds the copy would make the load stop on
    // a modal "document in use" box.
    m_files.removeFile(lockFilePath());
    m_files.copyNoReplace(source, workbook);
    m_spreadsheet.exportToWorkbook(workbook, pathForOffice(picturePath), QString::fromUtf16(kMacroName));
}

QString WorkbookExport::pictureCopyPath(const QString& picturePath) const
{
    const QString name = picturePath.mid(picturePath.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    return m_workFolder + u'/' + QString::fromUtf16(kPictureCopyName)
        + (hasRawBytes(extension) || extension.contains(u'/') ? QString() : extension);
}

QString WorkbookExport::pngCopyPath() const
{
    return m_workFolder + u'/' + QString::fromUtf16(kPictureCopyName) + QStringLiteral(".png");
}

namespace {

// The picture of a HEIF/AVIF, JPEG XL or camera RAW file encoded as PNG; empty for any other
// file, and for one that cannot be read. *isExtra tells which.
QByteArray extraAsPng(const QString& picturePath, bool* isExtra)
{
    *isExtra = false;
    const int fd = openPath(picturePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat st;
    QByteArray bytes;
    ExtraFormat format = ExtraFormat::None;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        format = sniffExtraFormat(fd);
        if (format != ExtraFormat::None)
            readWholeFile(fd, &bytes);
    }
    ::close(fd);
    if (format == ExtraFormat::None)
        return {};
    *isExtra = true;
    const QImage image = decodeExtra(format, reinterpret_cast<const unsigned char*>(bytes.constData()),
        size_t(bytes.size()), ExtraRequest());
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    return writer.write(image) ? png : QByteArray();
}

} // namespace

// The office takes the path as text, where bytes that are not UTF-8 cannot stand: they
// would arrive as U+FFFD and name another file, or none. Such a picture goes as a copy under
// a plain name, so the very file's content arrives.
QString WorkbookExport::pathForOffice(const QString& picturePath)
{
    // The office reads none of HEIF, AVIF, JPEG XL or RAW: it is handed the picture as a PNG.
    bool isExtra = false;
    const QByteArray png = extraAsPng(picturePath, &isExtra);
    if (isExtra) {
        const QString copy = pngCopyPath();
        m_files.removeFile(copy);
        return !png.isEmpty() && m_files.writeFile(copy, png, true).ok() ? copy : QString();
    }
    if (!hasRawBytes(picturePath))
        return picturePath;
    const QString copy = pictureCopyPath(picturePath);
    m_files.removeFile(copy);
    return m_files.copyNoReplace(picturePath, copy).ok() ? copy : QString();
}

} // namespace ztv
