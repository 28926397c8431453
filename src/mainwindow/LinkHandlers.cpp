#include "mainwindow/LinkHandlers.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void LinkHandlers::RCD_Explora_Click(MainForm& /*form*/)
{
}

void LinkHandlers::R_Explora_Click(MainForm& /*form*/)
{
}

void LinkHandlers::RF_Explora_Click(MainForm& /*form*/)
{
}

void LinkHandlers::EX_Explora_Click(MainForm& /*form*/)
{
}

void LinkHandlers::Command2_Click(MainForm& /*form*/)
{
}

} // namespace ztv
