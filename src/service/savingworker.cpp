#include "service/savingworker.h"

#include "service/sendreceive.h"
#include "store/messagestore.h"

#include <QFile>

int SaveToOutbox(const MessageStore& store, const QString& userId, const QString& tempFolder,
                 CycleObserver& observer, const std::function<QStringList()>& recipients) {
    observer.setStatus(QStringLiteral("Saving..."));
    QString folder = tempFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QString video = folder + QStringLiteral("vnote.wmv");
    const QString thumbnail = folder + QStringLiteral("vnote.jpg");
    const QList<FiledMessage> filed = store.fileRecording(video, thumbnail, recipients(), userId);
    if (!filed.isEmpty())
        observer.setTabCount(1, store.countFiles(Folder::Outbox, QStringLiteral(".jpg"), false));
    // The thumbnail stays: it is only ever overwritten by the next recording.
    QFile::remove(video);
    observer.setStatus(QString());
    return static_cast<int>(filed.size());
}
