#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class CycleObserver;
class MessageStore;

// What the recorder hands to the Saving worker once a recording has
// stopped: the video and thumbnail paths in the private working folder and
// whether this recording's writer finished the video. Only the recorder
// knows that; a file found at the path proves nothing, as it may be left
// from an earlier recording.
struct RecordingHandOff {
    QString video;
    QString thumbnail;
    bool finished = false;
};

// The Saving worker: files the recording just finished in the Outbox once
// per recipient, each copy with its own tick value, then deletes the
// video. A recording its writer did not finish is never filed. The
// recipients are asked for when it starts, so they are those selected at
// that moment. Returns how many recipients got a filed message.
int SaveToOutbox(const MessageStore& store, const QString& userId,
                 const RecordingHandOff& recording, CycleObserver& observer,
                 const std::function<QStringList()>& recipients);
