#pragma once

// Every text the main window shows, as the user reads it.
namespace ztv::texts {

inline constexpr char16_t MainCaption[] = u"ゼントヴィVer1.0";
inline constexpr char16_t TabCd[] = u"CD";
inline constexpr char16_t TabStockYard[] = u"ストックヤード";
inline constexpr char16_t TabVault[] = u"保管庫";
inline constexpr char16_t TabPaste[] = u"貼り付け／保存";

inline constexpr char16_t WebButton[] = u"カルネア「ソラノ」ページを開く";
inline constexpr char16_t Exit[] = u"終了";

inline constexpr char16_t ToVaultMove[] = u"保管庫へ移動";
inline constexpr char16_t ToVaultCopy[] = u"保管庫へコピー";
inline constexpr char16_t ClipCopy[] = u"クリップボードへコピー";
inline constexpr char16_t Explorer[] = u"エクスプローラを開く";
inline constexpr char16_t DeleteFile[] = u"ファイル削除";
inline constexpr char16_t RenameFile[] = u"ファイル名変更";
inline constexpr char16_t AddBox[] = u"整理箱の追加";
inline constexpr char16_t DeleteBox[] = u"整理箱の削除";
inline constexpr char16_t RenameBox[] = u"整理箱の名称を変更";
inline constexpr char16_t ExcelCopy[] = u"Excelへコピー";
inline constexpr char16_t ClearPicture[] = u"画面から画像を消去";
inline constexpr char16_t Paste[] = u"貼り付け";
inline constexpr char16_t SaveBmpJpegPng[] = u"bmp/JPEG/PNG形式で保存";
inline constexpr char16_t SaveGif[] = u"GIF形式で保存";
inline constexpr char16_t MenuSaveBmpJpegPng[] = u"貼り付けた画像をBMP/JPEG/PNG形式で保存";
inline constexpr char16_t MenuSaveGif[] = u"貼り付けた画像をGIF形式で保存";

inline constexpr char16_t HistoryItem[] = u"履歴…";

inline constexpr char16_t MenuL[] = u"メニューＬ";
inline constexpr char16_t MenuRCD[] = u"メニューＲCD";
inline constexpr char16_t MenuR[] = u"メニューＲ";
inline constexpr char16_t MenuRF[] = u"メニューＲF";
inline constexpr char16_t MenuClip[] = u"メニューClip";
inline constexpr char16_t MenuEX[] = u"メニューEX";
inline constexpr char16_t MenuMedium[] = u"メディア";

// A removable medium's root: its safe removal, and why it could not be done.
inline constexpr char16_t RemoveMedium[] = u"取り外し";
inline constexpr char16_t DeleteFiledFromMedium[] = u"保管済みの画像をメディアから削除…";
inline constexpr char16_t MediumBusy[] = u"使用中のため取り外せません";
inline constexpr char16_t MediumNotRemoved[] = u"取り外せませんでした";

inline constexpr char16_t DriveNotReady[] = u"ドライブが準備されていません";

// Accessible names.
inline constexpr char16_t AccPastedPicture[] = u"貼り付けた画像";

} // namespace ztv::texts
