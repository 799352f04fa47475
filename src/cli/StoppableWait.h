// Runs a step that may take long or block (reading a large recording, loading
// a composition and its images) on a worker thread, while the main thread
// keeps watching for a stop request: a stop takes the termination path at
// once instead of waiting for the step.
#pragma once

#include <chrono>
#include <future>
#include <thread>
#include <utility>

#include "base/StopRequest.h"
#include "cli/TerminationPath.h"

namespace lumivane {

template <class Step>
auto runStoppable(Step step) -> decltype(step()) {
    std::packaged_task<decltype(step())()> task(std::move(step));
    auto result = task.get_future();
    // Detached: the path ends the process without joining a step that may
    // never return.
    std::thread(std::move(task)).detach();
    while (result.wait_for(std::chrono::milliseconds(kStopPollMilliseconds)) !=
           std::future_status::ready) {
        terminationCheckpoint();
    }
    terminationCheckpoint();
    return result.get();
}

}  // namespace lumivane
