// A value or the text of what failed, for code paths where an exception would
// cross the frame loop.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lumivane {

struct Error {
    std::string message;
};

// Failures name what they concern first: "<file>": what failed.
inline std::string describeAt(const std::string& file, const std::string& what) {
    return "\"" + file + "\": " + what;
}

inline Error errorAt(const std::string& file, const std::string& what) {
    return Error{describeAt(file, what)};
}

template <class T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Error error) : m_state(std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_state); }
    const T& value() const { return std::get<0>(m_state); }
    T* operator->() { return &value(); }
    T& operator*() { return value(); }
    const std::string& error() const { return std::get<1>(m_state).message; }

private:
    std::variant<T, Error> m_state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error.message)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return m_error; }

private:
    std::string m_error;
    bool m_failed = false;
};

}  // namespace lumivane
