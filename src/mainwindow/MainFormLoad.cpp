// Start-up, the spreadsheet check, the preview and closing of the main window.
#include "mainwindow/MainForm.h"

#include "display/BrowseRun.h"
#include "display/PreviewForm.h"
#include "filing/BoxKeyCommands.h"
#include "filing/History.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/CdTreeWatch.h"
#include "mainwindow/FilingCommands.h"
#include "mainwindow/texts.h"
#include "platform/ContentIndex.h"
#include "platform/Drives.h"
#include "platform/Prompts.h"
#include "platform/Spreadsheet.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

namespace ztv {

void MainForm::Form_Load()
{
    m_paths = SetStoragePaths(GetSpecialFolderPath(m_services.drives, CSIDL_PROFILE));
    // Started before the tabs list anything; it works at idle priority behind them.
    // One stopped by an earlier close is made anew.
    if (!m_paths.VaultPath.isEmpty() && (!m_contentIndex || m_contentIndex->stopped())) {
        m_contentIndex = std::make_unique<ContentIndex>(
            m_paths.VaultPath, ContentIndex::defaultCacheFile(m_paths.VaultPath));
        m_contentIndex->start();
    }
    for (Area a : kAreas) {
        // A failed tab keeps what it had built so far; the others are still built.
        try {
            LoadTab(a);
        } catch (...) {
            setEnabled(true);
            m_run->setBrowsing(false);
            m_services.prompts.message(QString::fromUtf16(texts::DriveNotReady));
        }
    }
    SpreadsheetCheck();
    if (!m_cdWatch)
        m_cdWatch = new CdTreeWatch(*this, area(Area::Cd), *m_run, m_services.drives, m_services.media);
    // A step the last run began and never finished is told once; nothing of it is replayed.
    m_filing->undoRedo().reportInterrupted(*this);
    BoxKeyCommands::reportSetAside(*this);
}

void MainForm::LoadTab(Area ar)
{
    area(ar).load();
}

void MainForm::SpreadsheetCheck()
{
    bool usable = false;
    try {
        usable = Spreadsheet::usable(m_services.spreadsheet.applicationInfo());
    } catch (...) {
        usable = false;
    }
    for (const commands::Row& row : commands::table())
        if (row.when == commands::When::SpreadsheetUsable)
            action(row.name)->setEnabled(usable);
}

void MainForm::Form_Unload()
{
    // A run still going, or one it would start (the listing after a stopped copy), would keep
    // the event loop busy after the window is gone.
    m_run->closeDown();
    // The index's walk is never waited for: it stops at its next file, keeping nothing half done.
    if (m_contentIndex)
        m_contentIndex->stop();
    if (m_preview)
        delete m_preview.data();
    if (m_quit)
        m_quit();
    else
        QCoreApplication::quit();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

PreviewForm* MainForm::previewForm() const
{
    return qobject_cast<PreviewForm*>(m_preview.data());
}

void MainForm::showPreview(Area ar, const QString& path)
{
    if (m_preview) {
        m_preview->show();
        m_preview->raise();
        m_preview->activateWindow();
        return;
    }
    m_previewArea = ar;
    // A failed load empties the tab the picture was chosen on.
    m_preview = new PreviewForm(path, [this] {
        area(m_previewArea).ClearTabPictures();
        area(m_previewArea).ComboSet();
    });
    m_preview->show();
}

} // namespace ztv
