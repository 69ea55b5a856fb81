#pragma once

#include <QHash>
#include <QString>

// The Outbox messages the service refused for a reason that will not go away
// by itself (an unknown recipient, a full queue ...), with the service's
// reason. The worker passes them over until the user asks to retry, so a
// refusal is shown once per message rather than at every cycle. Kept as one
// small JSON file in the user folder, outside the listed folders, so the
// state outlives the program; entries of files that are gone are dropped at
// the next change. Safe to use from the worker and the UI thread at once.
class SendFailures {
public:
    explicit SendFailures(QString userFolder);

    // Outbox file name -> reason.
    QHash<QString, QString> all() const;
    // False when the state could not be written.
    bool mark(const QString& outboxName, const QString& reason) const;
    bool clear(const QString& outboxName) const;

private:
    QString m_path;
    QString m_folder;
};
