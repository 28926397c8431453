#pragma once

// The texts of the browsing tabs, as the user reads them.
namespace ztv::texts::display {

// An operation was asked for a picture that was moved, deleted or rewritten after it was
// chosen.
inline constexpr char16_t ChosenFileChanged[]
    = u"選択中の画像ファイルは移動、削除または変更されています\rもう一度画像を選択してください";

// The chooser of a transfer was answered after another picture was chosen on the tab, or
// after the choice ended.
inline constexpr char16_t ChoiceChanged[]
    = u"選択中の画像が変わったか、選択が解除されています\rもう一度画像を選択してから操作してください";

// Progress of a browse run: files examined, files in the folder.
inline constexpr char16_t BrowseProgress[] = u"サムネイル作成中：%1 / %2 ファイル（Escキーで中止）";

// How many pictures are chosen, shown while more than one is.
inline constexpr char16_t ChosenCount[] = u"%1 枚の画像を選択中";

// A phone's root that lists nothing at all: it is locked, or not set to file transfer.
inline constexpr char16_t PhoneLocked[]
    = u"スマートフォンのロックを解除し、「ファイル転送」を許可してください";

// The CD tab's filter: pictures whose content the vault already holds are not listed.
inline constexpr char16_t OnlyNew[] = u"新しい画像だけ表示";

inline constexpr char16_t SelectedPicture[] = u"選択中の画像を表示";
inline constexpr char16_t Slash[] = u"/";

// Accessible names: what the control is and which tab it belongs to.
inline constexpr char16_t AccFolder[] = u"フォルダ（%1）";
inline constexpr char16_t AccThumbnails[] = u"サムネイル（%1）";
inline constexpr char16_t AccSelected[] = u"選択中の画像（%1）";
inline constexpr char16_t AccPage[] = u"ページ（%1）";
inline constexpr char16_t AccPageCount[] = u"ページ数（%1）";
inline constexpr char16_t AccOnlyNew[] = u"新しい画像だけ表示（%1）";
// A label read aloud: its role and what it shows.
inline constexpr char16_t AccRoleAndValue[] = u"%1：%2";

// The mark of a listed picture whose content the vault already holds (its tool tip and
// accessible description), with the vault file that holds it.
inline constexpr char16_t InVaultMark[] = u"保管庫に同じ内容のファイルがあります：%1";

} // namespace ztv::texts::display
