#include "shared/SoundtrackSamples.h"

#include <algorithm>

namespace lumivane {

Result<std::shared_ptr<SoundtrackSamples>> SoundtrackSamples::open(const std::string& path) {
    auto reader = SoundtrackReader::open(path);
    if (!reader) return Error{reader.error()};
    return std::shared_ptr<SoundtrackSamples>(new SoundtrackSamples(std::move(reader.value())));
}

Result<void> SoundtrackSamples::read(int64_t first, int count, float* interleaved) {
    auto read = m_reader->read(first, count, m_scratch);
    if (!read) {
        if (!m_problem) m_problem = read.error();
        return read;
    }
    std::copy(m_scratch.begin(), m_scratch.end(), interleaved);
    return {};
}

}  // namespace lumivane
