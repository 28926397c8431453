#include "mainwindow/CommandTable.h"

#include "capture/PasteArea.h"
#include "capture/PictureSaving.h"
#include "export/PhotoLedger.h"
#include "export/SpreadsheetExport.h"
#include "export/texts.h"
#include "filing/Boxes.h"
#include "filing/CardImport.h"
#include "filing/History.h"
#include "filing/MediumDelete.h"
#include "filing/PictureFiles.h"
#include "filing/VaultTransfer.h"
#include "filing/texts.h"
#include "mainwindow/FilingCommands.h"
#include "mainwindow/LinkHandlers.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/MediumCommands.h"
#include "mainwindow/texts.h"
#include "widgets/FormLayout.h"

namespace ztv::commands {

const std::vector<Menu>& menus()
{
    static const std::vector<Menu> all {
        { MenuId::L, "menu_L", texts::MenuL },
        { MenuId::RCD, "menu_RCD", texts::MenuRCD },
        { MenuId::R, "menu_R", texts::MenuR },
        { MenuId::RF, "menu_RF", texts::MenuRF },
        { MenuId::Clip, "menu_Clip", texts::MenuClip },
        { MenuId::EX, "menu_EX", texts::MenuEX },
        { MenuId::Medium, "menu_Medium", texts::MenuMedium },
    };
    return all;
}

const std::vector<Row>& table()
{
    using P = Place;
    using M = MenuId;
    // The handlers act on the current tab's choice; a row of one tab's menu is used on that tab.
    static const std::vector<Row> rows {
        { "dirpopup_new", texts::AddBox, "box-add", { M::L }, { { P::Vault, "Command4_0", 0 } },
            [](MainForm& w) { w.boxes().dirpopup_new_Click(w); } },
        { "dirpopup_del", texts::DeleteBox, "box-delete", { M::L }, { { P::Vault, "Command4_1", 1 } },
            [](MainForm& w) { w.boxes().dirpopup_del_Click(w); } },
        { "dirpopup_mod", texts::RenameBox, "box-rename", { M::L }, { { P::Vault, "Command4_2", 2 } },
            [](MainForm& w) { w.boxes().dirpopup_mod_Click(w); } },
        // The design's button reads "move" where its menu item reads "copy"; both copy.
        { "Medium_Import", filingtexts::ImportItem, nullptr, { M::Medium }, {},
            [](MainForm& w) { w.cardImport().start(w); } },
        { "Medium_Remove", texts::RemoveMedium, nullptr, { M::Medium }, {},
            [](MainForm& w) { w.mediumCommands().removeMarked(); } },
        { "Medium_DeleteFiled", texts::DeleteFiledFromMedium, nullptr, { M::Medium }, {},
            [](MainForm& w) { MediumDelete::run(w); } },
        { "RCD_Fav_Copy", texts::ToVaultCopy, "vault-copy", { M::RCD },
            { { P::Cd, "Command5_0", 3, texts::ToVaultMove } },
            [](MainForm& w) { w.vaultTransfer().RCD_Fav_Copy_Click(w); } },
        { "RCD_Clip_Copy", texts::ClipCopy, "clipboard-copy", { M::RCD }, { { P::Cd, "Command5_1", 4 } },
            [](MainForm& w) { w.pictureFiles().copyToClipboard(w, Area::Cd); } },
        { "Exl_copy0", texts::ExcelCopy, nullptr, { M::RCD }, {},
            [](MainForm& w) { w.spreadsheetExport().Export(w); }, When::SpreadsheetUsable },
        { "RCD_Explora", texts::Explorer, "explorer", { M::RCD }, { { P::Cd, "Command5_2", 5 } },
            [](MainForm& w) { w.linkHandlers().openExplorer(w); } },
        { "R_Fav_Copy", texts::ToVaultMove, "vault-move", { M::R }, { { P::StockYard, "Command3_0", 3 } },
            [](MainForm& w) { w.vaultTransfer().R_Fav_Copy_Click(w); } },
        { "R_Del", texts::DeleteFile, "file-delete", { M::R }, { { P::StockYard, "Command3_1", 4 } },
            [](MainForm& w) { w.pictureFiles().deleteSelected(w); } },
        { "R_Clip_Copy", texts::ClipCopy, "clipboard-copy", { M::R }, { { P::StockYard, "Command3_2", 5 } },
            [](MainForm& w) { w.pictureFiles().copyToClipboard(w, Area::StockYard); } },
        { "Exl_copy1", texts::ExcelCopy, nullptr, { M::R }, {},
            [](MainForm& w) { w.spreadsheetExport().Export(w); }, When::SpreadsheetUsable },
        { "R_Explora", texts::Explorer, "explorer", { M::R }, { { P::StockYard, "Command3_3", 6 } },
            [](MainForm& w) { w.linkHandlers().openExplorer(w); } },
        { "RF_Del", texts::DeleteFile, "file-delete", { M::RF }, { { P::Vault, "Command4_3", 3 } },
            [](MainForm& w) { w.pictureFiles().deleteSelected(w); } },
        { "RF_Mod", texts::RenameFile, "file-rename", { M::RF }, { { P::Vault, "Command4_4", 4 } },
            [](MainForm& w) { w.pictureFiles().RF_Mod_Click(w); } },
        { "RF_Clip_Copy", texts::ClipCopy, "clipboard-copy", { M::RF }, { { P::Vault, "Command4_5", 5 } },
            [](MainForm& w) { w.pictureFiles().copyToClipboard(w, Area::Vault); } },
        { "Exl_copy2", texts::ExcelCopy, nullptr, { M::RF }, {},
            [](MainForm& w) { w.spreadsheetExport().Export(w); }, When::SpreadsheetUsable },
        { "RF_Explora", texts::Explorer, "explorer", { M::RF }, { { P::Vault, "Command4_6", 6 } },
            [](MainForm& w) { w.linkHandlers().openExplorer(w); } },
        // The paste tab's buttons have captions of their own and enable the window first.
        { "Clip_Past", texts::Paste, "paste", { M::Clip }, { { P::Paste, "Command1_1", 0, texts::Paste } },
            [](MainForm& w) { w.pasteArea().Clip_Past_Click(w); } },
        { "Clip_Clear", texts::ClearPicture, "clear", { M::Clip },
            { { P::Paste, "Command1_0", 1, texts::ClearPicture } },
            [](MainForm& w) { w.pasteArea().Clip_Clear_Click(w); } },
        { "Clip_Save1", texts::MenuSaveBmpJpegPng, "save-image", { M::Clip },
            { { P::Paste, "Command1_3", 2, texts::SaveBmpJpegPng } },
            [](MainForm& w) { w.pictureSaving().Clip_Save1_Click(w); } },
        { "Clip_Save2", texts::MenuSaveGif, "save-gif", { M::Clip },
            { { P::Paste, "Command1_4", 3, texts::SaveGif } },
            [](MainForm& w) { w.pictureSaving().Clip_Save2_Click(w); } },
        { "EX_Explora", texts::Explorer, "explorer", { M::EX }, {},
            [](MainForm& w) { w.linkHandlers().openExplorer(w); } },
        // Above the tabs; the exit button is member 2 of the paste tab's array in the design.
        { nullptr, texts::WebButton, "web-page", {}, { { P::Top, "Command2", 0 } },
            [](MainForm& w) { w.linkHandlers().openWebPage(w); } },
        { nullptr, texts::Exit, "exit", {}, { { P::Top, "Command1_2", 1 } },
            [](MainForm& w) {
                w.setEnabled(true);
                w.close();
            } },
        // Undo and redo of the last filing step and the history window, in the box menu (after
        // the box keys' submenu) and the menu over an empty part of the thumbnail list.
        { "Undo", filingtexts::HistoryUndo, nullptr, { M::L, M::EX }, {},
            [](MainForm& w) { w.filingCommands().undoRedo().undo(w); }, When::Always,
            { QKeySequence(QKeySequence::Undo) }, true },
        { "Redo", filingtexts::HistoryRedo, nullptr, { M::L, M::EX }, {},
            [](MainForm& w) { w.filingCommands().undoRedo().redo(w); }, When::Always,
            { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y) } },
        { "History", texts::HistoryItem, nullptr, { M::L, M::EX }, {},
            [](MainForm& w) { w.filingCommands().undoRedo().showHistory(w); } },
        // The photo ledger closes the thumbnail menus and the empty-list menu.
        { "Ledger", exporttexts::LedgerItem, nullptr, { M::RCD, M::R, M::RF, M::EX }, {},
            [](MainForm& w) { w.photoLedger().make(w, PhotoLedger::Order::Page); }, When::Always, {}, true },
        { "LedgerByDate", exporttexts::LedgerByDateItem, nullptr, { M::RCD, M::R, M::RF, M::EX }, {},
            [](MainForm& w) { w.photoLedger().make(w, PhotoLedger::Order::DateTaken); } },
    };
    return rows;
}

QRect buttonGeometry(Place place, int slot)
{
    using layout::tw;
    switch (place) {
    case Place::Paste:
        return tw(240 + 825 * slot, 90, 750, 705);
    case Place::Top:
        return slot == 0 ? tw(9705, 120, 2010, 720) : tw(11805, 120, 795, 720);
    default: {
        static const int lefts[] = { 360, 1162, 1965, 3510, 4320, 5130, 5940 };
        return tw(lefts[slot], 120, 750, 705);
    }
    }
}

} // namespace ztv::commands
