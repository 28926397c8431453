#include "export/SpreadsheetExport.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void SpreadsheetExport::Exl_copy0_Click(MainForm& /*form*/)
{
}

void SpreadsheetExport::Exl_copy1_Click(MainForm& /*form*/)
{
}

void SpreadsheetExport::Exl_copy2_Click(MainForm& /*form*/)
{
}

} // namespace ztv
