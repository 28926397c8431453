#include "capture/PasteArea.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void PasteArea::Clip_Past_Click(MainForm& /*form*/)
{
}

void PasteArea::Clip_Clear_Click(MainForm& /*form*/)
{
}

void PasteArea::LEAD2_MouseButton(MainForm& /*form*/, int /*button*/, int /*shift*/, int /*x*/, int /*y*/)
{
}

} // namespace ztv
