#pragma once

// Every text the spreadsheet export shows.
namespace ztv::exporttexts {

inline constexpr char16_t kTemplateMissing[] = u"貼り付けに必要なExcelシートが見当たりません";
inline constexpr char16_t kSystemErrorTitle[] = u"システムエラー";

// The photo ledger.
inline constexpr char16_t LedgerItem[] = u"写真台帳を作成…";
inline constexpr char16_t LedgerByDateItem[] = u"写真台帳を作成（撮影日順）…";
inline constexpr char16_t LedgerTitle[] = u"写真台帳の作成";
inline constexpr char16_t LedgerTitlePrompt[] = u"写真台帳の表題を入力して下さい。";
inline constexpr char16_t LedgerNoPictures[] = u"台帳にする画像がありません";
inline constexpr char16_t LedgerTooMany[] = u"一度に台帳にできる画像は%1枚までです";
inline constexpr char16_t LedgerFileName[] = u"写真台帳_%1_%2.xlsx";
inline constexpr char16_t LedgerSaveCaption[] = u"写真台帳の保存";
inline constexpr char16_t LedgerFilterXlsx[] = u"Excel ブック (*.xlsx)";
inline constexpr char16_t LedgerFilterXlsxPdf[] = u"Excel ブックとPDF (*.xlsx)";
inline constexpr char16_t LedgerInStorage[] = u"保管場所の中には保存できません。別の場所を選んで下さい";
inline constexpr char16_t LedgerReplaceAsk[] = u"%1 は既に存在します。\r置き換えますか？";
inline constexpr char16_t LedgerProgress[] = u"写真台帳を作成しています… %1 / %2";
inline constexpr char16_t LedgerSaving[] = u"写真台帳を保存しています…";
inline constexpr char16_t LedgerMakingPdf[] = u"PDFを作成しています…";
inline constexpr char16_t LedgerStopped[] = u"Escキーで中止しました\r写真台帳は保存していません";
inline constexpr char16_t LedgerDone[] = u"写真台帳を保存しました（%1枚）\r%2";
inline constexpr char16_t LedgerPdfDone[] = u"PDF：%1";
inline constexpr char16_t LedgerPdfFailed[] = u"PDFを作成できませんでした";
inline constexpr char16_t LedgerPdfStopped[] = u"EscキーでPDFの作成を中止しました";
inline constexpr char16_t LedgerUnreadable[] = u"次の画像は読み込めないため、台帳に入れていません：";
inline constexpr char16_t LedgerNoneReadable[] = u"読み込める画像がないため、写真台帳を作成しませんでした";
inline constexpr char16_t LedgerWriteFailed[] = u"写真台帳を書き込めませんでした\r%1";
inline constexpr char16_t LedgerCdArea[] = u"CD";

} // namespace ztv::exporttexts
