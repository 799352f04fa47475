#pragma once

#include <cstdio>

namespace lumivane {

void printBanner(FILE* out);
void printHelp(FILE* out, const char* programPath);
// "-c help": every installed movie codec, then the image-sequence formats.
void printCodecList(FILE* out);

}  // namespace lumivane
