// Converts, encodes and writes finished frames on threads of their own while
// the next frame renders. A movie takes its frames on one thread, in order;
// an image sequence writes several files at once. At most `depth` frames wait
// to be written, so memory stays flat however fast the renderer is.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/Image.h"
#include "cli/FrameOutputFailure.h"

namespace lumivane {

class OutputStage {
public:
    using Writer = std::function<std::optional<FrameOutputFailure>(int index, const FrameImage&)>;

    // No workers: every frame is written in push(), on the caller's thread.
    OutputStage(Writer writer, int workers, int depth);
    ~OutputStage();
    OutputStage(const OutputStage&) = delete;
    OutputStage& operator=(const OutputStage&) = delete;

    // Hands a frame over, waiting while `depth` frames wait already. Returns
    // the first failure of a frame handed over earlier, once it is known;
    // after a failure no further frame is written.
    std::optional<FrameOutputFailure> push(int index, FrameImage frame);
    // Waits until every frame handed over is written or has failed.
    std::optional<FrameOutputFailure> drain();
    // Frames written so far.
    int written() const;

    // Workers for an image sequence, and how many frames of `frameBytes` may
    // wait: enough to keep them busy, never more than a bounded amount of memory.
    static int sequenceWorkers();
    static int depthFor(int workers, size_t frameBytes);

    // LUMIVANE_OUTPUT_THREADS=0 writes every frame on the render thread, one
    // after the other, as a reference when the overlap is in doubt.
    static bool serialWanted();

private:
    void work();
    std::optional<FrameOutputFailure> writeHere(int index, const FrameImage& frame);
    std::optional<FrameOutputFailure> writeGuarded(int index, const FrameImage& frame);

    Writer m_writer;
    const int m_depth;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<int, FrameImage>> m_waiting;
    int m_busy = 0;
    int m_written = 0;
    bool m_closing = false;
    std::optional<FrameOutputFailure> m_failure;
    std::vector<std::thread> m_workers;
};

}  // namespace lumivane
