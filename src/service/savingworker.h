#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class CycleObserver;
class MessageStore;

// The Saving worker: files the last recording (vnote.wmv and vnote.jpg of the
// temporary folder) in the Outbox once per recipient, each copy with its own
// tick value, then deletes the temporary video. The recipients are asked for
// when it starts, so they are those selected at that moment. Returns how
// many recipients got a filed message.
int SaveToOutbox(const MessageStore& store, const QString& userId, const QString& tempFolder,
                 CycleObserver& observer, const std::function<QStringList()>& recipients);
