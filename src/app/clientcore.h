#pragma once

#include "app/userfolderlock.h"
#include "platform/profile.h"
#include "service/pagesession.h"
#include "service/serviceaddress.h"

#include <QString>

#include <atomic>
#include <mutex>

// What every window, worker and the command-line companion share: the user
// folder, the signed-in user ID, the request for an immediate Send/Receive
// cycle, the settings store and the HTTP session of the account pages. The
// widget application derives from it; the headless companion uses it alone.
class ClientCore {
public:
    ClientCore();
    virtual ~ClientCore();
    ClientCore(const ClientCore&) = delete;
    ClientCore& operator=(const ClientCore&) = delete;

    static ClientCore* instance();

    // The application folder: the current directory at start, followed by
    // "/" and the user ID once signed in.
    QString m_strFolder;
    QString m_strUserId;
    // The password of this run's sign-in (or of the last change), kept in
    // memory only, so the Send/Receive worker can sign in again when the
    // service ends the session. Callable from any thread.
    QString password() const;
    void setPassword(const QString& password);
    std::atomic<int> m_bSendReceiveNow{0};

    // Names the settings store: <company>/<executable base name>.
    void SetRegistryKey(const QString& company);
    int GetProfileInt(const QString& section, const QString& entry, int defaultValue) const;
    bool WriteProfileInt(const QString& section, const QString& entry, int value);
    QString GetProfileString(const QString& section, const QString& entry,
                             const QString& defaultValue = {}) const;
    bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

    // Caption of boxes that carry the application's title: the executable's
    // base name.
    static QString applicationTitle() { return Profile::executableBaseName(); }

    const ServiceAddress& service() const { return m_service; }
    void setService(const ServiceAddress& service);

    int OpenSession() { return m_pages.OpenSession(); }
    int CloseSession() { return m_pages.CloseSession(); }
    int OpenPageRequest(const QString& server, const QString& path) {
        return m_pages.OpenPageRequest(server, path);
    }
    int FetchPage(const QString& server, const QString& path, QString& reply) {
        return m_pages.FetchPage(server, path, reply);
    }
    // The reply text of a page of the service host; empty when the page
    // could not be fetched.
    QString GetPage(const QString& path);
    PageSession& pageSession() { return m_pages; }

    // Takes the current directory as the application folder, without a
    // trailing "/" (the root folder thus becomes the empty text).
    void takeApplicationFolder(const QString& currentDirectory);
    // Extends the application folder with the user ID and creates the user
    // folder and its four message folders. Runs once per program run. False,
    // with nothing created, when the user ID cannot be a folder name.
    bool enterUserFolder();

    enum class FolderClaim { Taken, InUse, Unusable, NoWorkingFolder };
    // Makes the user folder and the signed-in user's private working folder
    // (GetTempPath) this program's own for the rest of the run. The second
    // lock keeps apart two programs of one user started in two folders,
    // which would otherwise record into the same files.
    // Called after enterUserFolder, before any worker starts; anything but
    // Taken comes with a message for the user.
    FolderClaim claimUserFolder(QString* message);

private:
    mutable std::mutex m_passwordMutex;
    QString m_password;
    Profile m_profile;
    ServiceAddress m_service;
    PageSession m_pages;
    UserFolderLock m_folderLock;
    UserFolderLock m_workingFolderLock;
};
