#include "platform/media/MovieChunk.h"

#include <charconv>

namespace lumivane {
namespace {

// A whole positive decimal number, nothing before or after it.
bool readNumber(std::string_view text, int& number) {
    if (text.empty() || text.front() == '+' || text.front() == '-') return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string movieChunkText(const MovieChunk& chunk) {
    return std::to_string(chunk.first) + "-" + std::to_string(chunk.last) + "/" +
           std::to_string(chunk.total);
}

std::optional<std::string> movieChunkProblem(const MovieChunk& chunk) {
    if (chunk.first < 1 || chunk.last < chunk.first || chunk.total < chunk.last) {
        return "frames " + movieChunkText(chunk) +
               " are no range of a render (1 <= first <= last <= total)";
    }
    return std::nullopt;
}

Result<MovieChunk> parseMovieChunk(const std::string& text) {
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    MovieChunk chunk{};
    const std::string_view view(text);
    if (dash == std::string::npos || slash == std::string::npos || slash < dash ||
        !readNumber(view.substr(0, dash), chunk.first) ||
        !readNumber(view.substr(dash + 1, slash - dash - 1), chunk.last) ||
        !readNumber(view.substr(slash + 1), chunk.total)) {
        return Error{"'" + text + "' is no chunk of frames (FIRST-LAST/TOTAL)"};
    }
    if (auto problem = movieChunkProblem(chunk)) return Error{*problem};
    return chunk;
}

}  // namespace lumivane
