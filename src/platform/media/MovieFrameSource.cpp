#include "platform/media/MovieFrameSource.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

namespace lumivane {
namespace {

// A jump further ahead than this seeks rather than decoding every frame between.
constexpr double kSeekAheadSeconds = 10;
// A frame time computed as i / rate may fall an ulp short of the frame that
// starts there, or, where the container's clock is coarse, up to half a tick
// short of the rounded time it gives that frame (frame 2 of 30 a second at
// 67 ms in Matroska).
constexpr double kTimeTolerance = 1e-6;
// Enough to cover a slow frame; bounded in bytes too, for huge sources.
constexpr size_t kAheadFrames = 4;
constexpr long long kAheadBytes = 256LL << 20;

}  // namespace

bool MovieFrameSource::looksLikeMovie(const std::string& path) {
    std::error_code error;
    // A FIFO would hold the probe until a writer comes.
    if (!std::filesystem::is_regular_file(path, error))
        return MovieDecoder::isSequencePattern(path);
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, fileUrl(path).c_str(), nullptr, nullptr) < 0) return false;
    AVInputFormatContextUPtr format(raw);
    const std::string name = format->iformat->name;
    return name != "image2" && name.find("_pipe") == std::string::npos;
}

Result<std::unique_ptr<MovieFrameSource>> MovieFrameSource::open(const std::string& path,
                                                                 const MovieSourceOptions& options,
                                                                 bool loop) {
    auto decoder = MovieDecoder::open(path, options);
    if (!decoder) return Error{decoder.error()};
    if (loop && !((*decoder)->length() > 0))
        return errorAt(path, "cannot loop: its length is not known");
    return std::unique_ptr<MovieFrameSource>(new MovieFrameSource(std::move(*decoder), loop));
}

MovieFrameSource::MovieFrameSource(std::unique_ptr<MovieDecoder> decoder, bool loop)
    : m_decoder(std::move(decoder)),
      m_loop(loop),
      m_firstStart(m_decoder->firstStart()),
      m_length(m_decoder->length()),
      m_tolerance(kTimeTolerance + m_decoder->timeRounding()),
      m_capacity(
          std::clamp<size_t>(size_t(kAheadBytes / m_decoder->frameBytes()), 1, kAheadFrames)) {
    m_thread = std::thread([this] { decodeAhead(); });
}

MovieFrameSource::~MovieFrameSource() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void MovieFrameSource::decodeAhead() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] {
            return m_stopping || m_seekTo ||
                   (!m_ended && !m_problem && m_ahead.size() < m_capacity);
        });
        if (m_stopping) return;
        const unsigned generation = m_generation;
        const std::optional<double> seekTo = std::exchange(m_seekTo, std::nullopt);
        lock.unlock();
        std::optional<Ahead> decoded;
        bool ended = false;
        std::optional<std::string> problem;
        if (seekTo) {
            if (auto sought = m_decoder->seek(*seekTo); !sought) problem = sought.error();
        }
        if (!problem) {
            auto next = m_decoder->next();
            if (!next) {
                problem = next.error();
            } else if (!*next) {
                ended = true;
            } else {
                decoded.emplace(Ahead{(*next)->start, {}});
                if (auto converted = m_decoder->convert(*(*next)->frame, decoded->frame);
                    !converted)
                    problem = converted.error();
            }
        }
        lock.lock();
        // A seek asked for meanwhile makes this frame one nobody wants.
        if (generation != m_generation) continue;
        if (problem) {
            m_problem = problem;
        } else if (ended) {
            m_ended = true;
        } else {
            m_ahead.push_back(std::move(*decoded));
        }
        m_changed.notify_all();
    }
}

void MovieFrameSource::requestSeek(double seconds) {
    m_ahead.clear();
    m_ended = false;
    m_problem.reset();
    m_seekTo = seconds;
    ++m_generation;
    m_shown.reset();
    m_changed.notify_all();
}

// Whether a frame is waiting; false at the end or after a failure.
bool MovieFrameSource::waitForNext(std::unique_lock<std::mutex>& lock) {
    m_changed.wait(lock, [&] { return !m_ahead.empty() || m_ended || m_problem; });
    return !m_ahead.empty();
}

double MovieFrameSource::sourceTime(double seconds) const {
    double at = seconds + m_tolerance;
    if (!m_loop) return at;
    at -= std::floor(at / m_length) * m_length;
    return at >= m_length || at < 0 ? 0 : at;
}

Result<bool> MovieFrameSource::frameAt(double seconds, MovieFrame& frame) {
    const double at = sourceTime(seconds);
    std::unique_lock lock(m_mutex);
    if (m_shown && at<*m_shown&& * m_shown> m_firstStart) {
        requestSeek(at);
    } else if (waitForNext(lock) && at > m_ahead.front().start + kSeekAheadSeconds) {
        requestSeek(at);
    }
    std::optional<Ahead> taken;
    while (waitForNext(lock) && (!m_shown || m_ahead.front().start <= at)) {
        taken = std::move(m_ahead.front());
        m_ahead.pop_front();
        m_shown = taken->start;
        m_changed.notify_all();
    }
    if (m_ahead.empty() && m_problem) return Error{*m_problem};
    if (!taken) return false;
    frame = std::move(taken->frame);
    return true;
}

}  // namespace lumivane
