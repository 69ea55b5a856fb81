#include "service/servicetransport.h"

#include "service/messagetransfer.h"

namespace {
class ServiceTransport : public MessageTransport {
public:
    ServiceTransport(const ServiceAddress& service, QString userId)
        : m_transfer(service), m_userId(std::move(userId)) {}

    int UploadMessage(const QString& path, const QString& name, const QString& sender,
                      const QString& recipient) override {
        return m_transfer.UploadMessage(path, name, sender, recipient, QString());
    }
    int DownloadMessage(const QString& targetPath) override {
        return m_transfer.DownloadMessage(targetPath, m_userId, m_received);
    }
    void setReceived(const QString& name) override { m_received = name; }

private:
    MessageTransfer m_transfer;
    QString m_userId;
    QString m_received;
};
} // namespace

std::unique_ptr<MessageTransport> makeServiceTransport(const ServiceAddress& service,
                                                       const QString& userId) {
    return std::make_unique<ServiceTransport>(service, userId);
}
