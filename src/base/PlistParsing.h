// What the property-list readers share inside the base library.
#pragma once

#include <cstdint>
#include <span>

namespace lumivane::detail {

// Lists nested deeper than this are refused, by every reader.
constexpr int kMaxDepth = 512;

// Whether the bytes may go to libplist: a binary list whose strings it can
// read and whose nesting stays within kMaxDepth, or XML with a tag, no zero
// byte and no deeper nesting.
bool looksLikePropertyList(std::span<const uint8_t> bytes);

}  // namespace lumivane::detail
