#pragma once

namespace ztv::texts {

// The notice of the splash window while the main window loads.
inline constexpr char16_t SplashNotice[] = u"起動しています。しばらくお待ちください…";
inline constexpr char16_t SplashName[] = u"ゼントヴィ";
inline constexpr char16_t SplashVersion[] = u"Ver1.0";

} // namespace ztv::texts
