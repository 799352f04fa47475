#include "cli/OutputStage.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string>

namespace lumivane {
namespace {
// What waiting frames may hold at most: a few 1080p frames, one 8K float one.
constexpr size_t kWaitingBytes = size_t{512} << 20;
constexpr int kMostSequenceWorkers = 8;
}  // namespace

OutputStage::OutputStage(Writer writer, int workers, int depth)
    : m_writer(std::move(writer)), m_depth(std::max(1, depth)) {
    for (int i = 0; i < workers; ++i) m_workers.emplace_back([this] { work(); });
}

OutputStage::~OutputStage() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers) worker.join();
}

bool OutputStage::serialWanted() {
    const char* value = std::getenv("LUMIVANE_OUTPUT_THREADS");
    return value && std::string(value) == "0";
}

int OutputStage::sequenceWorkers() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, kMostSequenceWorkers);
}

int OutputStage::depthFor(int workers, size_t frameBytes) {
    const size_t affordable = frameBytes > 0 ? kWaitingBytes / frameBytes : size_t(workers);
    return static_cast<int>(std::clamp<size_t>(affordable, 1, size_t(std::max(1, workers)) + 1));
}

std::optional<FrameOutputFailure> OutputStage::push(int index, FrameImage frame) {
    if (m_workers.empty()) return writeHere(index, frame);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_failure || int(m_waiting.size()) < m_depth; });
    if (m_failure) return m_failure;
    m_waiting.emplace_back(index, std::move(frame));
    lock.unlock();
    m_changed.notify_all();
    return std::nullopt;
}

std::optional<FrameOutputFailure> OutputStage::drain() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_waiting.empty() && m_busy == 0; });
    return m_failure;
}

// On a worker an escaping exception would end the process; it fails the
// frame instead, as it failed the render when frames were written in turn.
std::optional<FrameOutputFailure> OutputStage::writeGuarded(int index, const FrameImage& frame) {
    try {
        return m_writer(index, frame);
    } catch (const std::exception& error) {
        return FrameOutputFailure{std::string("LumivaneCLI: ") + error.what(), ""};
    }
}

std::optional<FrameOutputFailure> OutputStage::writeHere(int index, const FrameImage& frame) {
    std::lock_guard lock(m_mutex);
    if (!m_failure) m_failure = writeGuarded(index, frame);
    if (!m_failure) ++m_written;
    return m_failure;
}

int OutputStage::written() const {
    std::lock_guard lock(m_mutex);
    return m_written;
}

void OutputStage::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_closing || !m_waiting.empty(); });
        if (m_waiting.empty()) return;
        auto [index, frame] = std::move(m_waiting.front());
        m_waiting.pop_front();
        // After a failure the render ends; frames still waiting are dropped.
        if (m_failure) {
            m_changed.notify_all();
            continue;
        }
        ++m_busy;
        lock.unlock();
        m_changed.notify_all();
        auto failure = writeGuarded(index, frame);
        lock.lock();
        --m_busy;
        if (failure && !m_failure) m_failure = std::move(failure);
        if (!failure) ++m_written;
        m_changed.notify_all();
    }
}

}  // namespace lumivane
