// Arbitrary bytes as a composition document: reading its header must never
// crash or recurse without bound, and a header it accepts must survive being
// written out and read again (the JSON library recurses while writing too).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/engine/CompositionHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto header = lumivane::readCompositionHeader(text);
    if (!header) return 0;
    const std::string written = header->dump();
    auto again = lumivane::readCompositionHeader("/*" + written + "*/");
    if (!again || *again != *header) abort();
    return 0;
}
