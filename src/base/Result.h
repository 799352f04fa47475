// A value or the text of what failed.
//
// How failures travel, in every layer:
//
// - Results. Code under the programs (base, platform, shared) returns
//   Result<T> for anything that can fail on its input or its surroundings: a
//   file, a codec, a socket, a GL allocation. The reason names what it concerns
//   first, "<file>": what failed, built with errorAt() / describeAt(). A caller
//   that cannot handle a failure passes the Result's reason up, adding context
//   rather than replacing it. A bare bool or an empty value is no failure report.
// - Exceptions are thrown in two places only, where the design's engine and
//   link raise: the composition engine's loading and set-up (EngineError:
//   Composition::compositionWithFile, the renderers' constructors, setValue)
//   and calls to the application over the render link (LinkError). Events
//   built from an impossible type code throw EventError (a caller's mistake).
// - Catching. Exceptions are caught around named steps only: the renderer's
//   load, renderer creation and input setting, each progress report, and its
//   main routine as the last guard; in the application, around every
//   composition load and every input edit. Nothing else catches them.
// - Programs turn failures into their own reports: the renderer into one log
//   line, one error key for the application and exit status 254; the
//   application into its status line or a sheet, plus a log line.
// - A failure ignored on purpose is written so ((void) or an empty catch) and
//   carries a one-line comment that says why.
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
