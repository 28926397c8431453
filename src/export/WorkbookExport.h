#pragma once

#include <QString>
#include <QStringList>

namespace ztv {

class FileOps;
class Prompts;
class Spreadsheet;

// "Excelへコピー": a fresh copy of the template workbook receives the picture path in B2 of
// sheet 1 and runs its macro in the spreadsheet application.
class WorkbookExport {
public:
    static constexpr char16_t kTemplateName[] = u"Pastetemp.xls";
    static constexpr char16_t kWorkbookName[] = u"temp.xls";
    static constexpr char16_t kMacroName[] = u"Macro1";
    // A picture whose path is not UTF-8 goes to the office as this copy, with its extension;
    // a picture in a format the office cannot read, as this name with ".png".
    static constexpr char16_t kPictureCopyName[] = u"picture";

    // templateFolders are searched in order; the working copy goes to workFolder.
    WorkbookExport(Prompts& prompts, FileOps& files, Spreadsheet& spreadsheet, QStringList templateFolders,
        QString workFolder);

    // The program's folder, then the installed data folder (beside the program, then as built).
    static QStringList standardTemplateFolders();
    // The user's cache folder: an installed program's own folder is not writable here.
    static QString standardWorkFolder();

    // picturePath is the tab's list entry at its selected index, "" when there is none. Only a
    // missing template is reported; every later failure is passed over silently.
    void run(const QString& picturePath);

    QString templatePath() const; // "" when no folder holds the template
    QString workbookPath() const;
    QString lockFilePath() const; // LibreOffice's lock file for the working copy
    QString pictureCopyPath(const QString& picturePath) const;
    // A HEIF/AVIF, JPEG XL or camera RAW picture goes to the office as a PNG copy under this path.
    QString pngCopyPath() const;

private:
    QString pathForOffice(const QString& picturePath);

    Prompts& m_prompts;
    FileOps& m_files;
    Spreadsheet& m_spreadsheet;
    QStringList m_templateFolders;
    QString m_workFolder;
};

} // namespace ztv
