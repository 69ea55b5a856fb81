#include "service/serviceaddress.h"

#include "platform/helpers.h"

#include <QtGlobal>

ServiceAddress::ServiceAddress(const QString& url) : m_base(QUrl(url.trimmed())) {
    if (m_base.isValid() && !m_base.path().endsWith(QLatin1Char('/')))
        m_base.setPath(m_base.path() + QLatin1Char('/'));
}

ServiceAddress ServiceAddress::fromArguments(const QStringList& arguments) {
    const QString given = optionValue(arguments, QStringLiteral("--service"));
    if (!given.isEmpty())
        return ServiceAddress(given);
    const QString env = qEnvironmentVariable("CLIPNOTE_SERVICE");
    if (!env.trimmed().isEmpty())
        return ServiceAddress(env);
    return ServiceAddress();
}

QString ServiceAddress::pageUrl(const QString& relativePath) const {
    QString path = relativePath;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return m_base.toString() + path;
}

QString pagePath(const QString& page, const QList<QPair<QString, QString>>& query) {
    QString path = page;
    QChar separator = QLatin1Char('?');
    for (const auto& [name, value] : query) {
        path += separator + name + QLatin1Char('=') +
                QString::fromLatin1(QUrl::toPercentEncoding(value));
        separator = QLatin1Char('&');
    }
    return path;
}
