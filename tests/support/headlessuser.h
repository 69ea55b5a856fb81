#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class ServerProcess;
class TestEnvironment;

// One user of the headless companion (`clipnote --sync-once`, the program
// named by CLIPNOTE_CLIENT_BIN): an account on a test server and its own
// application folder, settings home, temporary folder and password file.
struct HeadlessUser {
    QString id;
    QString password;
    QString home; // the application folder; the user folder is home/id
    QString config;
    QString temp;

    QString folder(const QString& sub = {}) const { return home + "/" + id + "/" + sub; }
    QString passwordFile() const;
    // Writes one value of the program's settings for this user.
    void setSetting(const QString& name, int value) const;
};

// Creates the account (unless its password is given: an account made some
// other way) and the folders under a fresh folder of `env`.
HeadlessUser makeHeadlessUser(TestEnvironment& env, const ServerProcess& server, const QString& id,
                              const QString& password = QString());

// Starts one run of the companion for the user against serviceUrl, with
// more arguments and environment values.
void startHeadlessSync(QProcess& client, const HeadlessUser& user, const QString& serviceUrl,
                       const QStringList& extra = {},
                       const QProcessEnvironment& extraEnvironment = {});
