#pragma once

#include <atomic>

// The flags the window shares with its worker threads, all atomics: one
// instance lives as long as the window (or a one-shot sync) and every worker
// holds it by reference. Counters rather than booleans where several parties
// raise and lower them.
struct WorkerFlags {
    // A record gesture is under way: the worker holds its cycle until it ends.
    std::atomic<int> gestureActive{0};
    // The player stands in the preview area.
    std::atomic<int> playerShown{0};
    // A Send/Receive cycle is transferring.
    std::atomic<int> transferBusy{0};
    // The capture and sound threads are recording.
    std::atomic<int> recording{0};
    // The pause between cycles, in 100 ms ticks.
    std::atomic<int> idleTicks{300};
    // The window is closing: workers finish what they hold and stop.
    std::atomic<int> exitRequested{0};
    // Set by the Send/Receive worker as its last act.
    std::atomic<int> workerStopped{0};
    // Saving workers still filing a recording; the window waits for them too.
    std::atomic<int> savingWorkers{0};
};
