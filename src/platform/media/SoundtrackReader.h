// A soundtrack: the audio stream of any file FFmpeg reads (wav, flac, mp3,
// aac, m4a, a movie), decoded to 32-bit float samples at the stream's own
// rate and channel count. Samples are addressed by position: 0 is the first
// sample the stream decodes to, so a song starts at 0 whatever its container's
// clock says. Positions before 0 and after the stream's end read as silence,
// which lets a caller ask for any range of a render's timeline.
//
// Reading forwards decodes each packet once. The samples for a position are
// always the ones a decode from the start gives, bit for bit, so a render
// split into chunks reads what the whole render reads: where a seek lands on
// the same samples (PCM in most containers) a position behind the last read
// (by more than a second) or far ahead of it seeks, then decodes and discards
// up to the exact sample; otherwise a position behind reopens the file and
// decodes from the start, and one ahead decodes through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Result.h"

struct SwrContext;

namespace lumivane {

class SoundtrackReader {
public:
    // Fails with "<file>": why when the file is missing, is no media FFmpeg
    // reads, has no audio stream, or its audio cannot be decoded (the first
    // packets are decoded here to find out).
    static Result<std::unique_ptr<SoundtrackReader>> open(const std::string& path);

    SoundtrackReader(const SoundtrackReader&) = delete;
    SoundtrackReader& operator=(const SoundtrackReader&) = delete;
    ~SoundtrackReader();

    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    const std::string& path() const { return m_path; }

    // `count` sample frames from position `first`, interleaved (channels()
    // floats per frame, nominally -1..1) into `samples`, which is resized to
    // count * channels(). A stream that fails to read or decode here reports
    // the time it failed at.
    Result<void> read(int64_t first, int64_t count, std::vector<float>& samples);

private:
    struct Internals;
    SoundtrackReader();
    Result<void> openDecoder();
    // Decodes the next frame into the buffer; false at the stream's end.
    Result<bool> decodeMore();
    Result<void> appendFrame();
    Result<void> seekTo(int64_t position);
    void dropBefore(int64_t position);
    Error failureAt(int64_t position, const std::string& what) const;

    std::string m_path;
    std::unique_ptr<Internals> m_av;
    int m_rate = 0;
    int m_channels = 0;
    bool m_exactSeeks = true;
    bool m_originKnown = false;
    bool m_originStamped = false;
    int64_t m_framesDecoded = 0;  // since the file was opened
    int64_t m_originPts = 0;      // the first sample's timestamp, in the stream's time base
    // Decoded samples from m_bufferStart on, interleaved; m_ended once the
    // stream gave its last one.
    std::vector<float> m_buffer;
    int64_t m_bufferStart = 0;
    bool m_ended = false;
};

}  // namespace lumivane
