// A movie read as an image input: for a time in seconds from the movie's
// first frame, the frame whose presentation interval holds it (the first
// frame before it starts, the last one held after it ends, or the movie
// played again from the start when it loops). A thread of its own decodes a
// few frames ahead of the render; a forward render decodes each frame once,
// and only a time earlier than the frame shown, or far ahead, seeks.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/Result.h"
#include "platform/media/MovieDecoder.h"

namespace lumivane {

class MovieFrameSource {
public:
    // A file FFmpeg reads as a movie with a decodable video stream, or an
    // image sequence by pattern; single pictures are not movies here.
    static Result<std::unique_ptr<MovieFrameSource>> open(const std::string& path,
                                                          const MovieSourceOptions& options,
                                                          bool loop);
    // Whether `path` is a sequence pattern, or a regular file FFmpeg reads
    // as a container rather than a single picture, so that its failures are
    // a movie's to tell.
    static bool looksLikeMovie(const std::string& path);

    MovieFrameSource(const MovieFrameSource&) = delete;
    MovieFrameSource& operator=(const MovieFrameSource&) = delete;
    ~MovieFrameSource();

    // The frame for `seconds`: true with `frame` filled when it differs from
    // the one the last call gave, false when that one still shows.
    Result<bool> frameAt(double seconds, MovieFrame& frame);

private:
    struct Ahead {
        double start = 0;
        MovieFrame frame;
    };
    explicit MovieFrameSource(std::unique_ptr<MovieDecoder> decoder, bool loop);
    void decodeAhead();
    // One step of the decoder thread, outside the lock.
    void seekFor(double seconds, unsigned generation);
    void decodeOne(unsigned generation);
    void requestSeek(double seconds);
    bool waitForNext(std::unique_lock<std::mutex>& lock);
    double sourceTime(double seconds) const;

    std::unique_ptr<MovieDecoder> m_decoder;  // the decoder thread's alone
    const bool m_loop;
    const double m_firstStart;
    const double m_length;
    const double m_tolerance;
    const size_t m_capacity;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Ahead> m_ahead;
    bool m_ended = false;
    std::optional<std::string> m_problem;
    std::optional<double> m_seekTo;
    // Counts seeks, so that a frame decoded before one is dropped.
    unsigned m_generation = 0;
    bool m_stopping = false;
    // The render thread's: the start of the frame it shows.
    std::optional<double> m_shown;
    std::thread m_thread;
};

}  // namespace lumivane
