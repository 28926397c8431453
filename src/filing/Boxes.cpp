#include "filing/Boxes.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void Boxes::dirpopup_new_Click(MainForm& /*form*/)
{
}

void Boxes::dirpopup_del_Click(MainForm& /*form*/)
{
}

void Boxes::dirpopup_mod_Click(MainForm& /*form*/)
{
}

} // namespace ztv
