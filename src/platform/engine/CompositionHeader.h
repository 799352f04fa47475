// The JSON header a composition document opens with, /*{...}*/, read on its
// own: what every loader of outside documents needs before anything else,
// with no GL and no files, so it can also be fuzzed.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "base/Result.h"

namespace lumivane {

// JSON nesting the header may have; the parser recurses once per level.
inline constexpr int kMaxHeaderDepth = 512;

// The header of `text` (the whole document, byte-order mark already gone) as
// a JSON value; the reason, with the document's line where it has one, when
// there is none, it is not JSON, or it nests deeper than kMaxHeaderDepth.
Result<nlohmann::json> readCompositionHeader(const std::string& text);

}  // namespace lumivane
