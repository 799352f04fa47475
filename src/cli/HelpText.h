#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace lumivane {

void printBanner(FILE* out);
void printHelp(FILE* out, const char* programPath);
// "-c help": the installed movie codecs of each container (of the output's
// only, when -o names one), then the image-sequence formats.
void printCodecList(FILE* out, const std::optional<std::string>& output = std::nullopt);

}  // namespace lumivane
