#include "filing/VaultTransfer.h"

#include "mainwindow/MainForm.h"

namespace ztv {

void VaultTransfer::RCD_Fav_Copy_Click(MainForm& /*form*/)
{
}

void VaultTransfer::R_Fav_Copy_Click(MainForm& /*form*/)
{
}

} // namespace ztv
