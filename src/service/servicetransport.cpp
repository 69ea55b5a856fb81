#include "service/servicetransport.h"

#include "service/messagepageclient.h"
#include "service/pagefetch.h"
#include "service/replytext.h"
#include "service/serviceaddress.h"

namespace {
constexpr qsizetype kSignInReplyBytes = 4096;
constexpr long kSignInTimeoutMs = 30000;

class ServiceTransport : public MessageTransport {
public:
    ServiceTransport(const ServiceAddress& service, QString userId, PasswordSource password)
        : m_transfer(service), m_baseUrl(service.baseUrl()), m_userId(std::move(userId)),
          m_password(std::move(password)) {
        if (!m_baseUrl.endsWith(QLatin1Char('/')))
            m_baseUrl += QLatin1Char('/');
    }

    TransferResult upload(const QString& path, const QString& name, const QString& sender,
                          const QString& recipient) override {
        return m_transfer.upload(path, name, sender, recipient, QString());
    }
    TransferResult download(const QString& targetPath) override {
        return m_transfer.download(targetPath, m_userId, m_received);
    }
    void setReceived(const QString& name) override { m_received = name; }
    WaitOutcome waitForMessage(int seconds, const std::function<bool()>& abort) override {
        return m_transfer.WaitForMessage(m_userId, seconds, abort);
    }

    // The new session cookie lands in the shared cookie store, where the
    // next transfer picks it up.
    bool signInAgain() override {
        const QString password = m_password();
        if (password.isEmpty())
            return false;
        const QString page =
            pagePath(QStringLiteral("zeb/login.asp"),
                     {{QStringLiteral("UID"), m_userId}, {QStringLiteral("PW"), password}});
        const FetchedPage reply = fetchPage(m_baseUrl + page, kSignInReplyBytes, kSignInTimeoutMs);
        return reply.error == 0 && reply.status == 200 && isOkReply(QString::fromUtf8(reply.body));
    }

private:
    MessagePageClient m_transfer;
    QString m_baseUrl;
    QString m_userId;
    PasswordSource m_password;
    QString m_received;
};
} // namespace

std::unique_ptr<MessageTransport> makeServiceTransport(const ServiceAddress& service,
                                                       const QString& userId,
                                                       PasswordSource password) {
    return std::make_unique<ServiceTransport>(service, userId, std::move(password));
}

std::unique_ptr<MessageTransport> makeServiceTransport(const ServiceAddress& service,
                                                       const QString& userId,
                                                       const QString& password) {
    return makeServiceTransport(service, userId, [password] { return password; });
}
