#include "service/messagerecord.h"

#include "platform/helpers.h"
#include "service/recorddate.h"

#include <QIODevice>

namespace {

QByteArrayView fieldText(QByteArrayView field) {
    if (const qsizetype nul = field.indexOf('\0'); nul >= 0)
        field.truncate(nul);
    return field;
}

} // namespace

MessageRecord parseMessageRecord(QByteArrayView head, qint64 recordSize) {
    MessageRecord record;
    // A record that stops inside its fields came from a transfer that broke
    // off; nothing in it can be trusted.
    if (recordSize < kRecordDataOffset || head.size() < kRecordDataOffset)
        return record;
    record.name = withoutTrailingBlanks(QString::fromUtf8(fieldText(head.first(kRecordNameBytes))));
    record.dateText = fieldText(head.sliced(kRecordNameBytes, kRecordDateBytes)).toByteArray();
    record.date = parseRecordDate(record.dateText);
    record.dataSize = recordSize - kRecordDataOffset;
    // A message without a single byte can be neither played nor shown.
    record.status = record.dataSize > 0 ? MessageRecord::Status::Ok : MessageRecord::Status::Empty;
    return record;
}

MessageRecord readMessageRecord(QIODevice& record) {
    const qint64 size = record.size();
    QByteArray head(kRecordDataOffset, '\0');
    qint64 got = 0;
    while (got < kRecordDataOffset) {
        const qint64 n = record.read(head.data() + got, kRecordDataOffset - got);
        if (n <= 0)
            break;
        got += n;
    }
    head.truncate(got);
    return parseMessageRecord(head, qMax(size, got));
}
