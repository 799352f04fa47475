// The rules of the desktop's path strings, in one place for every layer: a
// trailing "/" is not part of the last component, only the last component's
// last extension counts, and a dot that opens a component starts a name, not
// an extension.
#pragma once

#include <string>

namespace lumivane {

std::string withoutTrailingSlashes(std::string path);
// The text after the extension's dot; empty when there is none.
std::string pathExtension(const std::string& path);
// The path without its extension (and without trailing slashes).
std::string deletingPathExtension(const std::string& path);
std::string lastPathComponent(const std::string& path);

}  // namespace lumivane
