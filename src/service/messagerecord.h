#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

class QIODevice;

// The record a download leaves on disk: a 255-byte name field, a 32-byte date
// field and the message file's bytes.
inline constexpr qsizetype kRecordNameBytes = 255;
inline constexpr qsizetype kRecordDateBytes = 32;
inline constexpr qsizetype kRecordDataOffset = kRecordNameBytes + kRecordDateBytes;

struct MessageRecord {
    enum class Status {
        Ok,
        Short, // the record ends inside its name or date field
        Empty, // the fields are complete, but no message byte follows them
    };
    Status status = Status::Short;
    // The name as the service relays it, "recipient;sender;stamp" with
    // ".jpg" for a thumbnail, in the case it arrived in. It is not checked
    // here: the store refuses a name that cannot be a file name.
    QString name;
    QByteArray dateText;
    // Invalid when the date text is not a real date and time.
    QDateTime date;
    // Bytes of the message file after the fields.
    qint64 dataSize = 0;

    bool isValid() const { return status == Status::Ok; }
};

// Reads the fields of a record from its first bytes; recordSize is the size
// of the whole record. The name field ends at its first zero byte (all 255
// bytes when there is none) and loses its trailing white space.
MessageRecord parseMessageRecord(QByteArrayView head, qint64 recordSize);

// Reads the fields from an open record and leaves the device at the first
// byte of the message file, ready to be copied on.
MessageRecord readMessageRecord(QIODevice& record);
