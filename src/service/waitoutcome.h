#pragma once

// What a wait for the next message came to.
enum class WaitOutcome {
    Arrived,     // a message waits for the user now
    NothingYet,  // the time passed without one
    Unsupported, // the service has no such page
    Failed,      // no usable answer (no service, a refusal, a cut)
    SessionGone, // the service holds no session for this program
    Aborted,     // the caller ended the wait
};
