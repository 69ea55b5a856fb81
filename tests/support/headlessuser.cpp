#include "headlessuser.h"

#include "serverprocess.h"
#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

QString HeadlessUser::passwordFile() const {
    return QFileInfo(home).path() + "/password";
}

void HeadlessUser::setSetting(const QString& name, int value) const {
    QSettings settings(config + "/ZEB/clipnote.conf", QSettings::IniFormat);
    settings.setValue("Settings/" + name, value);
}

HeadlessUser makeHeadlessUser(TestEnvironment& env, const ServerProcess& server, const QString& id,
                              const QString& password) {
    static int run = 0;
    ++run;
    HeadlessUser user;
    user.id = id;
    user.password = password.isEmpty() ? server.createAccount(id) : password;
    const QString base = env.makeFolder(QStringLiteral("%1-%2").arg(id).arg(run));
    user.home = base + "/App";
    user.config = base + "/config";
    user.temp = base + "/tmp";
    QDir().mkpath(user.home);
    QDir().mkpath(user.config);
    QDir().mkpath(user.temp);
    writeFile(user.passwordFile(), user.password.toUtf8() + "\n");
    return user;
}

void startHeadlessSync(QProcess& client, const HeadlessUser& user, const QString& serviceUrl,
                       const QStringList& extra, const QProcessEnvironment& extraEnvironment) {
    client.setWorkingDirectory(user.home);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", user.config);
    env.insert("TMPDIR", user.temp);
    env.insert(extraEnvironment);
    client.setProcessEnvironment(env);
    client.start(qEnvironmentVariable("CLIPNOTE_CLIENT_BIN"),
                 QStringList{"--sync-once", "--user", user.id, "--password-file",
                             user.passwordFile(), "--service", serviceUrl} +
                     extra);
}
