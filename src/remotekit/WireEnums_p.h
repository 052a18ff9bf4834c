#pragma once

#include <QLatin1String>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace Wardlamp {

// A case and its raw value, for the small lookup tables of the protocol enums.
template <typename Enum> struct RawEntry {
    Enum value;
    const char* raw;
};

template <typename Enum, std::size_t N> using RawTable = std::array<RawEntry<Enum>, N>;

template <typename Enum, std::size_t N> QLatin1String rawOf(const RawTable<Enum, N>& table, Enum value)
{
    for (const auto& entry : table) {
        if (entry.value == value)
            return QLatin1String(entry.raw);
    }
    return {};
}

template <typename Enum, std::size_t N> std::optional<Enum> caseOf(const RawTable<Enum, N>& table, QStringView raw)
{
    for (const auto& entry : table) {
        if (raw == QLatin1String(entry.raw))
            return entry.value;
    }
    return std::nullopt;
}

} // namespace Wardlamp
