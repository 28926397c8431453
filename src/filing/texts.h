#pragma once

// Every text the organizer boxes, the file operations and the vault transfer show.
namespace ztv::filingtexts {

// Organizer boxes
inline constexpr char16_t SelectFolder[] = u"フォルダを選択してください";
inline constexpr char16_t AddPrompt[] = u"整理箱の名称を入力して下さい。";
inline constexpr char16_t AddTitle[] = u"整理箱の追加";
inline constexpr char16_t BoxExists[] = u"すでに同名の整理箱が存在します";
inline constexpr char16_t AddError[] = u"追加エラー";
inline constexpr char16_t VaultNotDeletable[] = u"「保管庫」は削除できません";
inline constexpr char16_t DeleteError[] = u"削除エラー";
// The confirmation: before the name, after it (the lone carriage return is the line break).
inline constexpr char16_t DeleteBoxAsk1[] = u"選択された整理箱　「";
inline constexpr char16_t DeleteBoxAsk2[] = u"」　を削除します\rよろしいですか？";
inline constexpr char16_t DeleteBoxTitle[] = u"整理箱の削除";
inline constexpr char16_t BoxNotEmpty[]
    = u"ファイルが保管されているため削除できません\r先に整理箱に保管されているファイルを削除してください";
inline constexpr char16_t VaultNotRenamable[] = u"「保管庫」の名称は変更できません";
inline constexpr char16_t RenameError[] = u"変更エラー";
inline constexpr char16_t RenameBoxPrompt[] = u"変更後の名称を入力して下さい。";
inline constexpr char16_t RenameBoxTitle[] = u"整理箱の名称変更";
// A new box name beginning with "." would make a hidden folder that no tree shows.
inline constexpr char16_t HiddenBoxName[]
    = u"名前の先頭に「.」は使えません\r「.」で始まる整理箱は隠しフォルダとなり、表示されません";

// Browse runs that re-list a page
inline constexpr char16_t BrowseCancelled[] = u"ﾌﾞﾗｳｼﾞﾝｸﾞをｷｬﾝｾﾙしました";
inline constexpr char16_t BrowseError[] = u"ﾃﾞｨﾚｸﾄﾘ ﾌﾞﾗｳｼﾞﾝｸﾞのｴﾗｰ : ";

// Picture files
inline constexpr char16_t DeleteAsk[] = u"削除します。よろしいですか？";
inline constexpr char16_t DeleteFileTitle[] = u"ファイルの削除";
// No trash can take the file (a disk without one): a delete that cannot be undone is asked for.
inline constexpr char16_t DeleteForeverAsk[]
    = u"このファイルはごみ箱に移動できません\r完全に削除します。よろしいですか？";
// A file that could not be deleted, when the file operation gave no reason of its own.
inline constexpr char16_t DeleteFileFailed[] = u"ファイルを削除できませんでした";
inline constexpr char16_t RenameFilePrompt[] = u"変更後のファイル名を入力して下さい。";
inline constexpr char16_t RenameFileTitle[] = u"ファイル名変更";
inline constexpr char16_t FileExists[] = u"すでに同名のファイルが保管されています";
// The clipboard takes the picture whole or not at all.
inline constexpr char16_t CopyTooLarge[] = u"画像が大きすぎるため、クリップボードへコピーできません";
inline constexpr char16_t CopyUnreadable[] = u"画像を読み込めないため、クリップボードへコピーできません";
inline constexpr char16_t CopyError[] = u"コピーエラー";
// A new file name beginning with "." would make a hidden file that no page shows.
inline constexpr char16_t HiddenFileName[]
    = u"ファイル名の先頭に「.」は使えません\r「.」で始まるファイルは隠しファイルとなり、表示されません";

// Freeing a medium of what the vault holds: the question (how many go, how many stay and why),
// its form where no trash can take them, the progress line and the closing words.
inline constexpr char16_t MediumDeleteTitle[] = u"メディアから削除";
inline constexpr char16_t MediumDeleteAsk[]
    = u"保管庫に同じ内容があることを確認した %1 個のファイルをメディアのごみ箱へ移動します\r"
      u"残すファイル：%2 個（保管庫にない %3 個、保管庫のファイルと内容が違う %4 個）\rよろしいですか？";
inline constexpr char16_t MediumDeleteForeverAsk[]
    = u"保管庫に同じ内容があることを確認した %1 個のファイルをメディアから削除します\r"
      u"残すファイル：%2 個（保管庫にない %3 個、保管庫のファイルと内容が違う %4 個）\r"
      u"このメディアにはごみ箱を作れないため、削除したファイルは元に戻せません。よろしいですか？";
inline constexpr char16_t MediumNothingToDelete[] = u"保管庫に同じ内容があるファイルはありません\r（保管庫に"
                                                    u"ない %1 個、保管庫のファイルと内容が違う %2 個）";
inline constexpr char16_t MediumChecking[] = u"保管庫と照合中：%1 / %2 ファイル（Escキーで中止）";
inline constexpr char16_t MediumChangedSinceCheck[] = u"照合の後に変更されました";

// Several chosen files at once: the question, the progress line and the one closing message
// (how many of how many were done, then each file that was not with its reason).
inline constexpr char16_t DeleteSeveralAsk[] = u"%1 個のファイルを削除します。よろしいですか？";
inline constexpr char16_t DeleteSeveralForeverAsk[]
    = u"%1 個のファイルはごみ箱に移動できません\r完全に削除します。よろしいですか？";
inline constexpr char16_t FilingProgress[] = u"保管中：%1 / %2 ファイル（Escキーで中止）";
inline constexpr char16_t DeletingProgress[] = u"削除中：%1 / %2 ファイル（Escキーで中止）";
// A large file being copied: its name, MB done and its size in MB.
inline constexpr char16_t CopyingProgress[] = u"コピー中：%1　%2 / %3 MB（Escキーで中止）";
// The one file a transfer was copying, stopped by Esc: nothing was filed.
inline constexpr char16_t CopyStopped[] = u"Escキーで中止しました\rファイルは保管されていません";
// "新しい画像を保管庫へコピー…": a medium's folder into one box, the pictures the vault lacks.
inline constexpr char16_t ImportItem[] = u"新しい画像を保管庫へコピー…";
// Files done and to do, MB done and to do.
inline constexpr char16_t ImportProgress[] = u"コピー中：%1 / %2 ファイル　%3 / %4 MB（Escキーで中止）";
inline constexpr char16_t ImportCopied[] = u"保管庫へコピーしました：%1 個";
inline constexpr char16_t ImportInVault[] = u"すでに保管庫にあるため、コピーしなかったもの：%1 個";
inline constexpr char16_t ImportRenamed[] = u"同じ名前の別の画像があるため、名前に番号を付けたもの：%1 個";
inline constexpr char16_t ImportNothing[] = u"このフォルダには画像がありません";
inline constexpr char16_t ImportError[] = u"コピーエラー";
inline constexpr char16_t BatchFiled[] = u"%1 / %2 個のファイルを保管しました";
inline constexpr char16_t BatchDeleted[] = u"%1 / %2 個のファイルを削除しました";
inline constexpr char16_t BatchStopped[] = u"Escキーで中止しました";
inline constexpr char16_t BatchNotDone[] = u"次のファイルは処理できませんでした：";
inline constexpr char16_t BatchProblem[] = u"%1（%2）";
inline constexpr char16_t BatchMore[] = u"ほか %1 個";
// A file chosen among several that was moved, deleted or rewritten before its turn came.
inline constexpr char16_t ChangedSinceChosen[] = u"選択後に移動、削除または変更されています";
// Files dropped from another program that cannot be filed.
inline constexpr char16_t DroppedNotPicture[] = u"画像ファイルではありません";
inline constexpr char16_t DroppedUnreadable[] = u"ファイルを読み込めません";

// Vault transfer and its destination chooser
inline constexpr char16_t FilingError[] = u"保管エラー";
// Before filing a picture whose content the vault already holds: OK files it anyway,
// Cancel skips it (with several, one question for all of them; Cancel files the others).
inline constexpr char16_t InVaultAsk[] = u"同じ内容のファイルがすでに保管庫にあります\r%1\r"
                                         u"それでも保管しますか？（「キャンセル」で保管しません）";
inline constexpr char16_t InVaultSeveralAsk[]
    = u"%1 個のファイルは同じ内容のファイルがすでに保管庫にあります\r"
      u"それらも保管しますか？（「キャンセル」でそれらを除いて保管します）";
inline constexpr char16_t InVaultTitle[] = u"保管庫にある画像";
inline constexpr char16_t ChooserCaption[] = u"ゼントヴィVer1.0";
inline constexpr char16_t CopyInstruction[] = u"ファイルのコピー";
inline constexpr char16_t MoveInstruction[] = u"移動先を選択して「移動」ボタンをクリックしてください";
inline constexpr char16_t CopyButton[] = u"コピー";
inline constexpr char16_t MoveButton[] = u"移動";
inline constexpr char16_t CancelButton[] = u"キャンセル";
inline constexpr char16_t VaultRoot[] = u"保管庫";
// The role of the chooser's destination line (its accessible description).
inline constexpr char16_t AccDestination[] = u"保管先";
// The same line read aloud with the destination it shows.
inline constexpr char16_t AccDestinationOf[] = u"保管先：%1";

// Undo and redo of filing steps, and their journal
inline constexpr char16_t UndoError[] = u"取り消しエラー";
inline constexpr char16_t RedoError[] = u"やり直しエラー";
inline constexpr char16_t NothingToUndo[] = u"元に戻す操作がありません";
inline constexpr char16_t NothingToRedo[] = u"やり直す操作がありません";
inline constexpr char16_t UndoCount[] = u"%1 / %2 個を元に戻しました：%3";
inline constexpr char16_t RedoCount[] = u"%1 / %2 個をやり直しました：%3";
inline constexpr char16_t NotUndone[] = u"次のものは元に戻せませんでした（そのまま残しています）：";
inline constexpr char16_t NotRedone[] = u"次のものはやり直せませんでした（そのまま残しています）：";
inline constexpr char16_t OriginalTaken[] = u"元の場所に同名のファイルがあります";
inline constexpr char16_t ChangedSinceStep[] = u"操作の後に移動、削除または変更されています";
inline constexpr char16_t BoxNotEmptyNow[] = u"整理箱が空ではありません";
inline constexpr char16_t NotInTrash[] = u"ごみ箱の中の場所が分かりません";
// A place read from the journal that is not below the storage root (or in its trash).
inline constexpr char16_t PlaceNotAllowed[] = u"記録された場所が保管場所の外にあります";
inline constexpr char16_t TrashRecordWrong[] = u"ごみ箱の記録が一致しません";
// A box step of an older journal, which did not keep what tells one box from another.
inline constexpr char16_t CannotCheck[] = u"記録が古いため、同じ整理箱か確かめられません";
// The journal could not be read and was put aside.
inline constexpr char16_t JournalMovedAside[]
    = u"操作の記録が読めないため %1 に移し、新しい記録を始めました\rそれまでの操作は元に戻せません";
// The history window's list was older than the journal: nothing was done.
inline constexpr char16_t HistoryChanged[]
    = u"ほかのウィンドウで操作の履歴が変わりました\r一覧を確かめてから、もう一度操作してください";
// A step begun and never marked done: the program ended in the middle of it.
inline constexpr char16_t Interrupted[]
    = u"前回、次の操作が途中で終了しました\r元に戻すことはできません。ファイルを確認してください：";
// The journal cannot be written: filing goes on, but may not be undoable.
inline constexpr char16_t JournalError[] = u"操作の記録を書き込めませんでした\r元に戻せない場合があります";
// A step in words, as the history lists it.
inline constexpr char16_t StepMove[] = u"%1 を %2 へ移動";
inline constexpr char16_t StepMoveMany[] = u"%1 個のファイルを %2 へ移動";
inline constexpr char16_t StepCopy[] = u"%1 を %2 へコピー";
inline constexpr char16_t StepCopyMany[] = u"%1 個のファイルを %2 へコピー";
inline constexpr char16_t StepRename[] = u"%1 の名前を %2 に変更";
inline constexpr char16_t StepDelete[] = u"%1 を削除";
inline constexpr char16_t StepDeleteMany[] = u"%1 個のファイルを削除";
inline constexpr char16_t StepBoxAdd[] = u"整理箱 %1 を追加";
inline constexpr char16_t StepBoxRename[] = u"整理箱 %1 の名称を %2 に変更";
inline constexpr char16_t StepBoxDelete[] = u"整理箱 %1 を削除";
inline constexpr char16_t StepUndone[] = u"（取り消し済み）";
inline constexpr char16_t StepInterrupted[] = u"（途中で終了）";
inline constexpr char16_t StepRunning[] = u"（実行中）";
inline constexpr char16_t StepCannotUndo[] = u"（元に戻せません）";
inline constexpr char16_t StepCannotRedo[] = u"（やり直せません）";
// The history window.
inline constexpr char16_t HistoryTitle[] = u"履歴";
inline constexpr char16_t AccHistoryList[] = u"最近の操作";
inline constexpr char16_t HistoryUndo[] = u"元に戻す";
inline constexpr char16_t HistoryRedo[] = u"やり直し";
inline constexpr char16_t HistoryClose[] = u"閉じる";

// Box keys: a digit files the chosen pictures into the box given that key.
inline constexpr char16_t KeyMenu[] = u"キーに割り当て";
inline constexpr char16_t KeyAssign[] = u"キー%1に割り当て";
inline constexpr char16_t KeyAssignedTo[] = u"キー%1に割り当て（%2）";
inline constexpr char16_t KeyAssignedGone[] = u"キー%1に割り当て（%2：見つかりません）";
inline constexpr char16_t KeyRemove[] = u"キーの割り当てを解除";
inline constexpr char16_t KeyNote[] = u"　［%1］";
inline constexpr char16_t KeyBoxGone[] = u"キー%1の整理箱「%2」が見つかりません\r何も保管していません";
inline constexpr char16_t KeysNotSaved[] = u"キーの割り当てを保存できませんでした";
inline constexpr char16_t KeysSetAside[]
    = u"キーの割り当てのファイルが壊れていました\r%1 に移し、読めた割り当てだけを残しました";

} // namespace ztv::filingtexts
