#pragma once

// Every text the spreadsheet export shows.
namespace ztv::exporttexts {

inline constexpr char16_t kTemplateMissing[] = u"貼り付けに必要なExcelシートが見当たりません";
inline constexpr char16_t kSystemErrorTitle[] = u"システムエラー";

} // namespace ztv::exporttexts
