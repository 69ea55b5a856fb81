#pragma once

#include <QString>

// How one upload or download with the service ended, with the service's own
// text where it gave one. The transfers report this inside the client; the
// 1 or 0 their callers have always had is derived from it at the edge.
struct TransferResult {
    enum class Outcome {
        Done,        // the service took the upload, or a whole record arrived
        Failed,      // may pass: no answer, a cut transfer, a local file, no message waiting
        Refused,     // the service refused the upload for good
        SessionGone, // the service holds no session for this program
    };
    Outcome outcome = Outcome::Failed;
    // For Refused, the service's reason ("INVALID: " taken off, several
    // joined); for a download that got an "ERROR" reply, its text.
    QString reason;

    static TransferResult done() { return {Outcome::Done, {}}; }
    static TransferResult failed(QString why = QString()) {
        return {Outcome::Failed, std::move(why)};
    }
    bool succeeded() const { return outcome == Outcome::Done; }
    int asNumber() const { return succeeded() ? 1 : 0; }
};
