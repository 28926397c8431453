#pragma once

// Texts of the imaging controls that can reach the user (through lastError() or the save
// dialog).
namespace ztv::texts::imaging {

inline constexpr char16_t NoPictureToSave[] = u"保存する画像がありません。";
inline constexpr char16_t NoClipboardPicture[] = u"クリップボードにデータがありません。";
inline constexpr char16_t UnknownFormat[] = u"この形式では保存できません。";
inline constexpr char16_t UnsupportedBits[] = u"この色数ではこの形式で保存できません。";
inline constexpr char16_t PictureTooLarge[] = u"画像が大きすぎます。";
inline constexpr char16_t EncodeFailed[] = u"画像を書き出せませんでした。";
inline constexpr char16_t NotAPicture[] = u"画像として読み込めません: ";

} // namespace ztv::texts::imaging

namespace ztv::texts::savedialog {

inline constexpr char16_t Title[] = u"ﾌｧｲﾙの保存";
inline constexpr char16_t Bits[] = u"色数:";
inline constexpr char16_t BitsEntry[] = u"%1 ビット";
inline constexpr char16_t Quality[] = u"画質:";
inline constexpr char16_t KeepTransparency[] = u"透明部分を保持";
inline constexpr char16_t Extended[] = u"大きさを指定して保存";
inline constexpr char16_t LongerSide[] = u"長辺:";
inline constexpr char16_t Pixels[] = u" ピクセル";
inline constexpr char16_t Interlaced[] = u"プログレッシブ／インターレース";

} // namespace ztv::texts::savedialog
