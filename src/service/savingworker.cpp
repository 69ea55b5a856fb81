#include "service/savingworker.h"

#include "service/sendreceiveworker.h"
#include "store/messagestore.h"

#include <QFile>

int SaveToOutbox(const MessageStore& store, const QString& userId,
                 const RecordingHandOff& recording, CycleObserver& observer,
                 const std::function<QStringList()>& recipients) {
    if (recording.video.isEmpty())
        return 0;
    int filedCount = 0;
    if (recording.finished) {
        observer.setStatus(QStringLiteral("Saving..."));
        const QList<FiledMessage> filed =
            store.fileRecording(recording.video, recording.thumbnail, recipients(), userId);
        if (!filed.isEmpty())
            observer.setTabCount(1,
                                 store.countFiles(Folder::Outbox, QStringLiteral(".jpg"), false));
        filedCount = static_cast<int>(filed.size());
    }
    // The thumbnail stays: it is only ever overwritten by the next recording.
    QFile::remove(recording.video);
    observer.setStatus(QString());
    return filedCount;
}
