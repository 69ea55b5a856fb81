#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Where the service lives. The build sets a default; "--service URL" on the
// command line or the CLIPNOTE_SERVICE environment variable override it.
class ServiceAddress {
public:
    ServiceAddress() : ServiceAddress(QStringLiteral(CLIPNOTE_DEFAULT_SERVICE)) {}
    explicit ServiceAddress(const QString& url);

    // "--service URL" (or "--service=URL") wins over CLIPNOTE_SERVICE, which
    // wins over the build default.
    static ServiceAddress fromArguments(const QStringList& arguments);

    bool isValid() const { return m_base.isValid() && !m_base.host().isEmpty(); }
    // Base address, always ending in "/".
    QString baseUrl() const { return m_base.toString(); }
    // The host name that page paths are checked against.
    QString host() const { return m_base.host(); }
    // A page of the service, for example "zeb/login.asp?UID=a".
    QString pageUrl(const QString& relativePath) const;

private:
    QUrl m_base;
};

// Fixed addresses of the service's people, on the service's own domain.
inline constexpr char kAdministratorAddress[] = "administrator@ostrand.example";
inline constexpr char kAccountsAddress[] = "accounts@ostrand.example";
inline constexpr char kServiceWebAddress[] = "www.ostrand.example";

// Builds "page?NAME=value&..." with every value percent-encoded, so that a
// user ID or password holding "&", "=", "#", "+", "%" or a blank reaches the
// service intact.
QString pagePath(const QString& page, const QList<QPair<QString, QString>>& query);
