#pragma once

// Every text the paste tab, the format chooser and the saving show.
namespace ztv::texts::capture {

inline constexpr char16_t NoClipboardData[] = u"クリップボードにデータがありません。";
inline constexpr char16_t PasteError[] = u"貼り付けエラー";

inline constexpr char16_t SaveSelectCaption[] = u"保存形式の選択";
inline constexpr char16_t OptionBmp[] = u"BMP形式で保存";
inline constexpr char16_t OptionJpeg[] = u"JPEG形式で保存";
inline constexpr char16_t OptionPng[] = u"PNG形式で保存";
inline constexpr char16_t Save[] = u"保存";
inline constexpr char16_t Cancel[] = u"キャンセル";

inline constexpr char16_t DialogFilter[] = u"JPEG|*.jpg|*.jpg|*.jpg";
inline constexpr char16_t DialogTitle[] = u"ﾌｧｲﾙの保存";

inline constexpr char16_t OverwriteQuestion[] = u"上書きしますか？";
inline constexpr char16_t OverwriteTitle[] = u"上書き保存";

inline constexpr char16_t SaveErrorTitle[] = u"ﾌｧｲﾙ保存時のｴﾗｰ";
// A save that could not be written; the reason follows on the next line.
inline constexpr char16_t SaveFailed[] = u"ファイルを保存できませんでした。";

} // namespace ztv::texts::capture
