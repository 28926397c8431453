#include "export/SpreadsheetExport.h"

#include "export/WorkbookExport.h"
#include "mainwindow/MainForm.h"

#include <QTabWidget>

namespace ztv {

void SpreadsheetExport::Exl_copy0_Click(MainForm& form)
{
    Export(form);
}

void SpreadsheetExport::Exl_copy1_Click(MainForm& form)
{
    Export(form);
}

void SpreadsheetExport::Exl_copy2_Click(MainForm& form)
{
    Export(form);
}

void SpreadsheetExport::Export(MainForm& form)
{
    // The current tab's entry at its selected index, whatever the selection flag says; an
    // index without an entry gives "".
    const int tab = form.SSTab1->currentIndex();
    QString path;
    if (tab >= 0 && tab < 4)
        path = form.HiddenList[tab].value(form.TabSelectedIndex[tab]);
    const Services& s = form.services();
    WorkbookExport(s.prompts, s.fileOps, s.spreadsheet, WorkbookExport::standardTemplateFolders(),
        WorkbookExport::standardWorkFolder())
        .run(path);
}

} // namespace ztv
