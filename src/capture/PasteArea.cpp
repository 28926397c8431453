#include "capture/PasteArea.h"

#include "capture/texts.h"
#include "display/OperationContext.h"
#include "imaging/PictureDisplay.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

namespace ztv {

void PasteArea::Clip_Past_Click(OperationContext& context)
{
    namespace c = texts::capture;
    auto noData = [&context] {
        context.services().prompts.message(QString::fromUtf16(c::NoClipboardData),
            QString::fromUtf16(c::PasteError), PromptIcon::Critical, PromptButtons::Ok);
    };
    PictureDisplay& shown = context.LEAD2();
    PictureDisplay& copy = context.LEAD3();
    if (!shown.PastePicture(PictureDisplay::Paste::TestOnly)) {
        noData();
        return;
    }
    // The offer can still turn out unreadable; then both displays keep what they had.
    if (!shown.PastePicture(PictureDisplay::Paste::Picture)) {
        noData();
        return;
    }
    // The clipboard may have changed between the two reads: the copy must be the same picture.
    if (!copy.PastePicture(PictureDisplay::Paste::Picture) || copy.picture() != shown.picture())
        copy.setPicture(shown.picture());
    PrepareWhite(copy);
}

void PasteArea::Clip_Clear_Click(OperationContext& context)
{
    context.LEAD2().ClearPicture();
    context.LEAD3().ClearPicture();
}

void PasteArea::LEAD2_MouseButton(OperationContext& context, Qt::MouseButton button)
{
    if (button == Qt::RightButton)
        context.popupPasteMenu();
}

void PasteArea::LEAD2_Drop(OperationContext& context, const QMimeData& data)
{
    PictureDisplay& shown = context.LEAD2();
    if (!shown.PasteDropped(data)) {
        context.services().prompts.message(shown.lastError(), QString::fromUtf16(texts::capture::PasteError),
            PromptIcon::Critical, PromptButtons::Ok);
        return;
    }
    PictureDisplay& copy = context.LEAD3();
    copy.setPicture(shown.picture());
    PrepareWhite(copy);
}

void PasteArea::PrepareWhite(PictureDisplay& display)
{
    display.setColourOption(QColor(255, 255, 255));
    display.setColourOptionEnabled(true);
    display.ApplyColourOption();
}

} // namespace ztv
