#include "capture/PictureSaving.h"

#include "app/StoragePaths.h"
#include "capture/PasteArea.h"
#include "capture/SaveSelect.h"
#include "capture/SaveTargets.h"
#include "capture/texts.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "imaging/SaveDialog.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FormLayout.h"
#include "mainwindow/MainForm.h"
#include "platform/Prompts.h"

#include <QLabel>
#include <QRadioButton>
#include <QWindow>

namespace ztv {

namespace {

namespace c = texts::capture;

using layout::t;

// The chooser path keeps the main window disabled until it is done, whichever way it ends.
struct EnableOnExit {
    MainForm& form;
    ~EnableOnExit() { form.setEnabled(true); }
};

} // namespace

PictureSaving::PictureSaving() = default;

PictureSaving::~PictureSaving()
{
    delete m_select.data();
}

SaveSelect* PictureSaving::saveSelect() const
{
    return m_select.data();
}

// Neither save checks for a pasted picture: with nothing pasted the display's save fails
// and that failure is reported like any other, with nothing written.
void PictureSaving::Clip_Save1_Click(MainForm& form)
{
    form.setEnabled(false);
    if (!m_select) {
        // No parent: disabling the main window must not disable its chooser.
        m_select = new SaveSelect;
        QObject::connect(m_select.data(), &SaveSelect::Command1_Click, &form,
                         [this, &form](int index) { SaveSelect_Command1_Click(form, index); });
        m_select->winId();
        if (QWindow* main = form.windowHandle())
            m_select->windowHandle()->setTransientParent(main);
        m_select->move(form.frameGeometry().center() - m_select->rect().center());
    }
    m_select->show();
    m_select->activateWindow();
}

void PictureSaving::SaveSelect_Command1_Click(MainForm& form, int index)
{
    if (!m_select)
        return;
    if (index == 0) {
        chooserSave(form);
    } else if (index == 1) {
        form.setEnabled(true);
        m_select->hide();
        m_select->deleteLater();
        m_select = nullptr;
    }
}

SaveRequest PictureSaving::askFile(MainForm& form, int code, bool formatOptions, QWidget* owner)
{
    SaveDialog& dialog = *form.LEADDlg1;
    dialog.setFileName(QString());
    dialog.setInitialFolder(VaultPath);
    dialog.setFilter(t(c::DialogFilter));
    dialog.setFlags(SaveDialog::DontConfirmOverwrite);
    dialog.setTitle(t(c::DialogTitle));
    if (formatOptions)
        dialog.setFormatOptions(SaveDialog::FormatOptions);
    dialog.setExtendedOptions(SaveDialog::ExtendedOptions);
    dialog.setFormatListSize(1);
    if (code != 0)
        dialog.setFormatListEntry(0, code);
    return dialog.ShowSaveDialog(owner);
}

// The dialog does not ask about replacing a file; this does, also before the extended save,
// which would otherwise replace a file without a word.
bool PictureSaving::mayWrite(MainForm& form, const QString& path)
{
    if (!File_Check(path))
        return true;
    return form.services().prompts.message(t(c::OverwriteQuestion), t(c::OverwriteTitle), PromptIcon::None,
                                           PromptButtons::OkCancel)
        == PromptAnswer::Ok;
}

bool PictureSaving::written(MainForm& form, const PictureDisplay& source, bool ok)
{
    if (!ok)
        form.services().prompts.message(t(c::SaveFailed) + QLatin1Char('\n') + source.lastError(), t(c::SaveErrorTitle),
                                        PromptIcon::Critical, PromptButtons::Ok);
    return ok;
}

void PictureSaving::chooserSave(MainForm& form)
{
    m_select->hide();
    const EnableOnExit enable { form };
    static constexpr int codes[3] = { formats::Bmp, formats::Jpeg, formats::Png };
    int code = 0;
    for (int i = 0; i < 3; ++i)
        if (m_select->Option1[i]->isChecked())
            code = codes[i];
    try {
        const SaveRequest r = askFile(form, code, true, m_select);
        if (r.path.isEmpty() || !mayWrite(form, r.path))
            return;
        PictureDisplay& source = *form.LEAD2;
        if (r.extended) {
            written(form, source,
                    source.SavePictureWithOptions(r.path, r.format, r.bits, r.quality, float(r.extendedSize),
                                                  float(r.extendedSize), r.extendedInteger));
            return;
        }
        if (written(form, source, source.SavePicture(r.path, r.format, r.bits, r.quality, r.saveFlag)))
            RefreshAfterSave(form, r.path, true);
    } catch (...) {
        form.services().prompts.message(t(c::SaveFailed), t(c::SaveErrorTitle), PromptIcon::Critical,
                                        PromptButtons::Ok);
    }
}

void PictureSaving::Clip_Save2_Click(MainForm& form)
{
    try {
        const SaveRequest r = askFile(form, formats::Gif, false, &form);
        if (r.path.isEmpty() || !mayWrite(form, r.path))
            return;
        if (r.extended) {
            // Both displays write the file; the one left on disk is the hidden copy's.
            for (PictureDisplay* source : { form.LEAD2, form.LEAD3 })
                if (!written(form, *source,
                             source->SavePictureWithOptions(r.path, r.format, r.bits, r.quality, float(r.extendedSize),
                                                            float(r.extendedSize), r.extendedInteger)))
                    return;
        } else {
            PasteArea::PrepareWhite(*form.LEAD3);
            if (!written(form, *form.LEAD3, form.LEAD3->SavePicture(r.path, r.format, r.bits, r.quality, r.saveFlag)))
                return;
        }
        RefreshAfterSave(form, r.path, false);
    } catch (...) {
        form.services().prompts.message(t(c::SaveFailed), t(c::SaveErrorTitle), PromptIcon::Critical,
                                        PromptButtons::Ok);
    }
}

void PictureSaving::RefreshAfterSave(MainForm& form, const QString& path, bool checkBrowse)
{
    const SavedLocation where = LocateSavedFile(path);
    if (!where.underStorageName)
        return;
    const int area = where.area;
    for (const QString& treePath : where.treePaths)
        form.Node_Exp(area, treePath);
    form.LEADImgList1[area]->ClearThumbnails();
    form.HiddenList[area].clear();
    // Not a full browse run: the window stays as it is and the file counter goes on. A stop
    // asked of an earlier run must not cut this listing short, though.
    form.gBrowseQuit = 0;
    const int r = form.LEADThumb1[area]->BrowseFolder(where.folder);
    form.BrowseStatus->hide();
    if (r == ThumbnailBrowser::ResultOk) {
        // The page now lists another folder: the old choice no longer points at its picture.
        form.ComboSet(area);
        form.LEAD1[area]->ClearPicture(0, 1);
        form.TabHasSelection[area] = 0;
    } else if (checkBrowse) {
        form.services().prompts.message(QString(), t(c::SaveErrorTitle), PromptIcon::None, PromptButtons::Ok);
    }
}

} // namespace ztv
