#include "filing/PictureFiles.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void PictureFiles::R_Del_Click(MainForm& /*form*/)
{
}

void PictureFiles::RF_Del_Click(MainForm& /*form*/)
{
}

void PictureFiles::RF_Mod_Click(MainForm& /*form*/)
{
}

void PictureFiles::RCD_Clip_Copy_Click(MainForm& /*form*/)
{
}

void PictureFiles::R_Clip_Copy_Click(MainForm& /*form*/)
{
}

void PictureFiles::RF_Clip_Copy_Click(MainForm& /*form*/)
{
}

} // namespace ztv
