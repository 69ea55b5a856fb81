#pragma once

#include <QString>

// The text a message box shows for a reply of the service. A readable reply
// is shown as it came, line ends included; an empty, binary or very long
// one is replaced or shortened so that the box always says something a
// person can read.
QString replyForDisplay(const QString& reply);

// A reply is a success exactly when it begins with "OK" (case-sensitive).
inline bool isOkReply(const QString& reply) {
    return reply.startsWith(QLatin1String("OK"));
}
