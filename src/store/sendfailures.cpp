#include "store/sendfailures.h"

#include "store/replacingfile.h"
#include "store/storefolder.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <mutex>

namespace {
const QString kFailuresFile = QStringLiteral(".outbox-failed");
// Far beyond any real Outbox; a damaged file cannot make the program read
// without end.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
// Reasons are the service's one-line replies; a longer one is cut.
constexpr qsizetype kMaxReasonChars = 512;

// One program owns a user folder at a time; within it, the worker and the
// window change the file one after the other.
std::mutex& fileMutex() {
    static std::mutex mutex;
    return mutex;
}

QHash<QString, QString> readFile(const QString& path) {
    QHash<QString, QString> failures;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes)
        return failures;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = object.begin(); it != object.end(); ++it)
        failures.insert(it.key(), it.value().toString());
    return failures;
}

bool writeFile(const QString& path, const QHash<QString, QString>& failures,
               const QString& userFolder) {
    if (failures.isEmpty())
        return QFile::remove(path) || !QFileInfo::exists(path);
    QJsonObject object;
    for (auto it = failures.cbegin(); it != failures.cend(); ++it)
        object.insert(it.key(), it.value());
    return writeFileReplacing(path, QJsonDocument(object).toJson(QJsonDocument::Compact),
                              userFolder);
}
} // namespace

SendFailures::SendFailures(QString userFolder)
    : m_path(userFolder + QLatin1Char('/') + kFailuresFile), m_folder(std::move(userFolder)) {}

QHash<QString, QString> SendFailures::all() const {
    std::lock_guard lock(fileMutex());
    return readFile(m_path);
}

bool SendFailures::mark(const QString& outboxName, const QString& reason) const {
    std::lock_guard lock(fileMutex());
    QHash<QString, QString> failures = readFile(m_path);
    const QString outbox = resolvedFolderPath(m_folder, Folder::Outbox) + QLatin1Char('/');
    failures.removeIf(
        [&outbox](const auto& entry) { return !QFileInfo::exists(outbox + entry.key()); });
    failures.insert(outboxName, reason.left(kMaxReasonChars));
    return writeFile(m_path, failures, m_folder);
}

bool SendFailures::clear(const QString& outboxName) const {
    std::lock_guard lock(fileMutex());
    QHash<QString, QString> failures = readFile(m_path);
    if (!failures.remove(outboxName))
        return true;
    return writeFile(m_path, failures, m_folder);
}
