#include "capture/PictureSaving.h"

#include "capture/PasteArea.h"
#include "capture/SaveSelect.h"
#include "capture/SaveTargets.h"
#include "capture/texts.h"
#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureFormats.h"
#include "imaging/SaveDialog.h"
#include "imaging/ThumbnailList.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"
#include "widgets/FormLayout.h"

#include <QLabel>
#include <QRadioButton>
#include <QWindow>

namespace ztv {

namespace {

namespace c = texts::capture;

using layout::t;

// The chooser path keeps the main window disabled until it is done, whichever way it ends.
struct EnableOnExit {
    QWidget* window;
    ~EnableOnExit() { window->setEnabled(true); }
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
void PictureSaving::Clip_Save1_Click(OperationContext& context)
{
    QWidget* window = context.ownerWindow();
    window->setEnabled(false);
    if (!m_select) {
        // No parent: disabling the main window must not disable its chooser.
        m_select = new SaveSelect;
        QObject::connect(m_select.data(), &SaveSelect::Command1_Click, window,
            [this, &context](int index) { SaveSelect_Command1_Click(context, index); });
        m_select->winId();
        if (QWindow* main = window->windowHandle())
            m_select->windowHandle()->setTransientParent(main);
        m_select->move(window->frameGeometry().center() - m_select->rect().center());
    }
    m_select->show();
    m_select->activateWindow();
}

void PictureSaving::SaveSelect_Command1_Click(OperationContext& context, int index)
{
    if (!m_select)
        return;
    if (index == 0) {
        chooserSave(context);
    } else if (index == 1) {
        context.ownerWindow()->setEnabled(true);
        m_select->hide();
        m_select->deleteLater();
        m_select = nullptr;
    }
}

SaveRequest PictureSaving::askFile(OperationContext& context, int code, bool formatOptions, QWidget* owner)
{
    SaveDialog& dialog = context.LEADDlg1();
    dialog.setFileName(QString());
    dialog.setInitialFolder(context.storagePaths().VaultPath);
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
bool PictureSaving::mayWrite(OperationContext& context, const QString& path)
{
    if (!File_Check(path))
        return true;
    return context.services().prompts.message(
               t(c::OverwriteQuestion), t(c::OverwriteTitle), PromptIcon::None, PromptButtons::OkCancel)
        == PromptAnswer::Ok;
}

bool PictureSaving::written(OperationContext& context, const PictureDisplay& source, bool ok)
{
    if (!ok)
        context.services().prompts.message(t(c::SaveFailed) + QLatin1Char('\n') + source.lastError(),
            t(c::SaveErrorTitle), PromptIcon::Critical, PromptButtons::Ok);
    return ok;
}

void PictureSaving::chooserSave(OperationContext& context)
{
    m_select->hide();
    const EnableOnExit enable { context.ownerWindow() };
    static constexpr int codes[3] = { formats::Bmp, formats::Jpeg, formats::Png };
    int code = 0;
    for (int i = 0; i < 3; ++i)
        if (m_select->Option1[i]->isChecked())
            code = codes[i];
    try {
        const SaveRequest r = askFile(context, code, true, m_select);
        if (r.path.isEmpty() || !mayWrite(context, r.path))
            return;
        PictureDisplay& source = context.LEAD2();
        if (r.extended) {
            written(context, source,
                source.SavePictureWithOptions(r.path, r.format, r.bits, r.quality, float(r.extendedSize),
                    float(r.extendedSize), r.extendedInteger));
            return;
        }
        if (written(context, source, source.SavePicture(r.path, r.format, r.bits, r.quality, r.saveFlag)))
            RefreshAfterSave(context, r.path, true);
    } catch (...) {
        context.services().prompts.message(
            t(c::SaveFailed), t(c::SaveErrorTitle), PromptIcon::Critical, PromptButtons::Ok);
    }
}

void PictureSaving::Clip_Save2_Click(OperationContext& context)
{
    try {
        const SaveRequest r = askFile(context, formats::Gif, false, context.ownerWindow());
        if (r.path.isEmpty() || !mayWrite(context, r.path))
            return;
        if (r.extended) {
            // Both displays write the file; the one left on disk is the hidden copy's.
            for (PictureDisplay* source : { &context.LEAD2(), &context.LEAD3() })
                if (!written(context, *source,
                        source->SavePictureWithOptions(r.path, r.format, r.bits, r.quality,
                            float(r.extendedSize), float(r.extendedSize), r.extendedInteger)))
                    return;
        } else {
            PasteArea::PrepareWhite(context.LEAD3());
            if (!written(context, context.LEAD3(),
                    context.LEAD3().SavePicture(r.path, r.format, r.bits, r.quality, r.saveFlag)))
                return;
        }
        RefreshAfterSave(context, r.path, false);
    } catch (...) {
        context.services().prompts.message(
            t(c::SaveFailed), t(c::SaveErrorTitle), PromptIcon::Critical, PromptButtons::Ok);
    }
}

void PictureSaving::RefreshAfterSave(OperationContext& context, const QString& path, bool checkBrowse)
{
    const SavedLocation where = LocateSavedFile(path);
    // A file in the storage root itself names no area; the CD tab's page then shows it.
    const std::optional<Area> area = areaAt(where.area);
    if (!where.underStorageName || !area)
        return;
    for (const QString& treePath : where.treePaths)
        context.area(*area).Node_Exp(treePath);
    // Not a full browse run: the window stays as it is. The old choice no longer points at
    // the page's picture.
    const BrowsingArea::Listing listed
        = context.area(*area).list(where.folder, BrowsingArea::ListHow::Quietly);
    if (!listed.done() && checkBrowse) {
        context.services().prompts.message(
            QString(), t(c::SaveErrorTitle), PromptIcon::None, PromptButtons::Ok);
    }
}

} // namespace ztv
