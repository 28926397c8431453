#pragma once

#include <array>
#include <optional>

namespace ztv {

// The three browsing tabs, in tab order. The paste tab (index 3) is not an area.
enum class Area { Cd = 0, StockYard = 1, Vault = 2 };

inline constexpr int kAreaCount = 3;
inline constexpr std::array<Area, kAreaCount> kAreas { Area::Cd, Area::StockYard, Area::Vault };

// One value for each area, indexed by Area.
template <typename T> struct PerArea {
    std::array<T, kAreaCount> values {};
    T& operator[](Area area) { return values[static_cast<int>(area)]; }
    const T& operator[](Area area) const { return values[static_cast<int>(area)]; }
};

constexpr int tabIndex(Area area)
{
    return static_cast<int>(area);
}

// The area a tab index shows; none for the paste tab or an index out of range.
constexpr std::optional<Area> areaAt(int tab)
{
    if (tab < 0 || tab >= kAreaCount)
        return std::nullopt;
    return static_cast<Area>(tab);
}

} // namespace ztv
