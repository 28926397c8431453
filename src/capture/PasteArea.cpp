#include "capture/PasteArea.h"

#include "capture/texts.h"
#include "imaging/PictureDisplay.h"
#include "mainwindow/MainForm.h"
#include "platform/Prompts.h"

namespace ztv {

void PasteArea::Clip_Past_Click(MainForm& form)
{
    namespace c = texts::capture;
    auto noData = [&form] {
        form.services().prompts.message(QString::fromUtf16(c::NoClipboardData), QString::fromUtf16(c::PasteError),
                                        PromptIcon::Critical, PromptButtons::Ok);
    };
    if (form.LEAD2->PastePicture(PictureDisplay::PasteTestOnly) == 0) {
        noData();
        return;
    }
    // The offer can still turn out unreadable; then both displays keep what they had.
    if (form.LEAD2->PastePicture(0) == 0) {
        noData();
        return;
    }
    // The clipboard may have changed between the two reads: the copy must be the same picture.
    if (form.LEAD3->PastePicture(0) == 0 || form.LEAD3->picture() != form.LEAD2->picture())
        form.LEAD3->setPicture(form.LEAD2->picture());
    PrepareWhite(*form.LEAD3);
}

void PasteArea::Clip_Clear_Click(MainForm& form)
{
    form.LEAD2->ClearPicture(0, 1);
    form.LEAD3->ClearPicture(0, 1);
}

void PasteArea::LEAD2_MouseButton(MainForm& form, int button, int /*shift*/, int /*x*/, int /*y*/)
{
    if (button == 2)
        form.PopupMenu(form.menu_Clip);
}

void PasteArea::PrepareWhite(PictureDisplay& display)
{
    display.setColourOption(QColor(255, 255, 255));
    display.setColourOptionEnabled(true);
    display.ApplyColourOption();
}

} // namespace ztv
