#pragma once

// The texts of the browsing tabs' choice of a picture, as the user reads them.
namespace ztv::texts::display {

// An operation was asked for a picture that was moved, deleted or rewritten after it was
// chosen.
inline constexpr char16_t ChosenFileChanged[]
    = u"選択中の画像ファイルは移動、削除または変更されています\rもう一度画像を選択してください";

// The chooser of a transfer was answered after another picture was chosen on the tab, or
// after the choice ended.
inline constexpr char16_t ChoiceChanged[]
    = u"選択中の画像が変わったか、選択が解除されています\rもう一度画像を選択してから操作してください";

} // namespace ztv::texts::display
