#include "base/PathString.h"

namespace lumivane {
namespace {

// The index of the extension's dot in the trimmed path, or npos.
size_t extensionDot(const std::string& trimmed) {
    size_t componentStart = trimmed.rfind('/');
    componentStart = componentStart == std::string::npos ? 0 : componentStart + 1;
    const size_t dot = trimmed.rfind('.');
    if (dot == std::string::npos || dot <= componentStart) return std::string::npos;
    return dot;
}

}  // namespace

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string pathExtension(const std::string& path) {
    const std::string trimmed = withoutTrailingSlashes(path);
    const size_t dot = extensionDot(trimmed);
    return dot == std::string::npos ? std::string() : trimmed.substr(dot + 1);
}

std::string deletingPathExtension(const std::string& path) {
    std::string trimmed = withoutTrailingSlashes(path);
    const size_t dot = extensionDot(trimmed);
    return dot == std::string::npos ? trimmed : trimmed.substr(0, dot);
}

std::string lastPathComponent(const std::string& path) {
    const std::string trimmed = withoutTrailingSlashes(path);
    if (trimmed == "/") return trimmed;
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace lumivane
