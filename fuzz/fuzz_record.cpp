// Downloaded records come from the network and are read before anything
// checks them: no input may crash the reader, and what it returns must stay
// within the record.
#include "service/messagerecord.h"
#include "service/recorddate.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const MessageRecord parsed = parseMessageRecord(bytes, qint64(size));
    if (parsed.isValid()) {
        if (parsed.dataSize != qint64(size) - kRecordDataOffset || parsed.dataSize <= 0)
            std::abort();
        if (parsed.name.size() > kRecordNameBytes || parsed.dateText.size() > kRecordDateBytes ||
            parsed.dateText.contains('\0'))
            std::abort();
    } else if (qint64(size) > kRecordDataOffset) {
        std::abort();
    }

    QByteArray copy = bytes.toByteArray();
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    const MessageRecord read = readMessageRecord(device);
    if (read.status != parsed.status || read.name != parsed.name ||
        (read.isValid() && device.pos() != kRecordDataOffset))
        std::abort();

    // The date parser on its own, on any text at all.
    const QDateTime date = parseRecordDate(bytes);
    if (date.isValid() && (date.date().year() < 1 || date.date().year() > 9999))
        std::abort();
    return 0;
}
