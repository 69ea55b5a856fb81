#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A throwaway home for one test program: settings (XDG_CONFIG_HOME) and the
// temporary folder point into a fresh folder that is removed afterwards, and
// XDG_RUNTIME_DIR is unset, so no test reads or writes the real user's files.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString tempFolder() const { return m_dir.path() + QStringLiteral("/tmp"); }
    // A fresh empty folder under the root.
    QString makeFolder(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig;
    QByteArray m_oldTmp;
    bool m_hadRuntime;
    QByteArray m_oldRuntime;
};

// Writes bytes to a file, creating its folder; fails the test on error.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// The bytes of a test message: a pattern that differs with tick, so a
// message mixed up with another or cut short is noticed.
QByteArray messageBytes(int tick, qint64 size);
