#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TestEnvironment::TestEnvironment()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldTmp(qgetenv("TMPDIR")),
      m_hadRuntime(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")),
      m_oldRuntime(qgetenv("XDG_RUNTIME_DIR")) {
    QDir().mkpath(configHome());
    QDir().mkpath(tempFolder());
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("TMPDIR", tempFolder().toLocal8Bit());
    // The program's private working folder would otherwise go into the
    // session's runtime folder: it goes under tempFolder() instead.
    qunsetenv("XDG_RUNTIME_DIR");
}

TestEnvironment::~TestEnvironment() {
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("TMPDIR", m_oldTmp);
    if (m_hadRuntime)
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
}

QString TestEnvironment::makeFolder(const QString& name) const {
    const QString path = m_dir.path() + QLatin1Char('/') + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray messageBytes(int tick, qint64 size) {
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + tick) & 0xff);
    return bytes;
}
