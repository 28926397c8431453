#include "capture/PictureSaving.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void PictureSaving::Clip_Save1_Click(MainForm& /*form*/)
{
}

void PictureSaving::Clip_Save2_Click(MainForm& /*form*/)
{
}

} // namespace ztv
