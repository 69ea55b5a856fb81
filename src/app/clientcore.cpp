#include "app/clientcore.h"

#include "platform/tempfolder.h"
#include "service/httpshared.h"
#include "store/storenames.h"

#include <QDir>

namespace {
ClientCore* g_clientCore = nullptr;
}

ClientCore::ClientCore() {
    g_clientCore = this;
    m_pages.setServiceBase(m_service.baseUrl());
}

ClientCore::~ClientCore() {
    if (g_clientCore == this)
        g_clientCore = nullptr;
}

ClientCore* ClientCore::instance() {
    return g_clientCore;
}

void ClientCore::SetRegistryKey(const QString& company) {
    m_profile = Profile(company, Profile::executableBaseName());
}

int ClientCore::GetProfileInt(const QString& section, const QString& entry,
                              int defaultValue) const {
    return m_profile.GetProfileInt(section, entry, defaultValue);
}

bool ClientCore::WriteProfileInt(const QString& section, const QString& entry, int value) {
    return m_profile.WriteProfileInt(section, entry, value);
}

QString ClientCore::GetProfileString(const QString& section, const QString& entry,
                                     const QString& defaultValue) const {
    return m_profile.GetProfileString(section, entry, defaultValue);
}

bool ClientCore::WriteProfileString(const QString& section, const QString& entry,
                                    const QString& value) {
    return m_profile.WriteProfileString(section, entry, value);
}

void ClientCore::setService(const ServiceAddress& service) {
    m_service = service;
    m_pages.setServiceBase(m_service.baseUrl());
}

QString ClientCore::password() const {
    std::lock_guard lock(m_passwordMutex);
    return m_password;
}

void ClientCore::setPassword(const QString& password) {
    std::lock_guard lock(m_passwordMutex);
    m_password = password;
}

QString ClientCore::GetPage(const QString& path) {
    QString reply;
    if (m_pages.FetchPage(m_service.host(), path, reply) != 0 &&
        m_pages.lastError() == http::kErrorSecureFailure)
        // Told as the reply, so every dialog shows it as it shows the
        // service's own refusals.
        return http::secureFailureText(m_service.baseUrl());
    return reply;
}

void ClientCore::takeApplicationFolder(const QString& currentDirectory) {
    m_strFolder = currentDirectory;
    if (!m_strFolder.isEmpty() && m_strFolder.endsWith(QLatin1Char('/')))
        m_strFolder.chop(1);
}

bool ClientCore::enterUserFolder() {
    // The user ID names a folder: one that could lead out of the
    // application folder is never used.
    if (!isSafeStoreName(m_strUserId))
        return false;
    m_strFolder = m_strFolder + QLatin1Char('/') + m_strUserId;
    QDir dir;
    dir.mkdir(m_strFolder);
    for (const char* name : {"Outbox", "Inbox", "Sent", "Contacts"})
        dir.mkdir(m_strFolder + QLatin1Char('/') + QLatin1String(name));
    return true;
}

ClientCore::FolderClaim ClientCore::claimUserFolder(QString* message) {
    switch (m_folderLock.take(m_strFolder)) {
    case UserFolderLock::Result::Taken:
        break;
    case UserFolderLock::Result::InUse:
        *message = QStringLiteral("The messages of %1 in %2 are already open in another "
                                  "program. Close that one first.")
                       .arg(m_strUserId, m_strFolder);
        return FolderClaim::InUse;
    case UserFolderLock::Result::Failed:
        *message =
            QStringLiteral("The folder %1 cannot be locked for this program.").arg(m_strFolder);
        return FolderClaim::Unusable;
    }
    QString why;
    const QString working = privateWorkingFolder(m_strUserId, &why);
    if (working.isEmpty()) {
        m_folderLock.release();
        *message = QStringLiteral("No private working folder can be had for %1: %2.")
                       .arg(m_strUserId, why);
        return FolderClaim::NoWorkingFolder;
    }
    const UserFolderLock::Result result = m_workingFolderLock.take(working.chopped(1));
    if (result != UserFolderLock::Result::Taken) {
        m_folderLock.release();
        *message = QStringLiteral("%1 is already signed in in another program, with its "
                                  "working folder %2. Close that one first.")
                       .arg(m_strUserId, working);
        return result == UserFolderLock::Result::InUse ? FolderClaim::InUse
                                                       : FolderClaim::NoWorkingFolder;
    }
    return FolderClaim::Taken;
}
