#pragma once

#include <utility>
#include <variant>

namespace Wardlamp {

// A value or the reason there is none. For expected failures (decoding, opening a
// payload, reading a secret) that callers handle as ordinary results; never
// thrown. Plain C++, so every library can use it, the relay included. T and E
// must be different types.
template <typename T, typename E> class Expected {
public:
    Expected(const T& value)
        : m_state(std::in_place_index<0>, value)
    {
    }
    Expected(T&& value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Expected(E error)
        : m_state(std::in_place_index<1>, error)
    {
    }

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    // Only valid when hasValue().
    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only valid when !hasValue().
    E error() const { return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

} // namespace Wardlamp
