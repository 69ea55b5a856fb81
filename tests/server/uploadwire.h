#pragma once

#include "service/uploadbody.h"

#include <QByteArray>
#include <QString>

// The body of a post.asp request as the client sends it: the header block,
// the file, and the zeros that fill its last block.
inline QByteArray uploadBody(const QString& name, const QString& sender, const QString& recipient,
                             const QByteArray& file) {
    QByteArray body = uploadHeaderBlock(name, sender, recipient, QString()) + file;
    body.append(QByteArray(uploadBodyLength(file.size()) - body.size(), '\0'));
    return body;
}
