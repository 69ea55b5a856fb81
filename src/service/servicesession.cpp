#include "service/servicesession.h"

#include "service/httpshared.h"

#include <QLoggingCategory>

#include <curl/curl.h>

Q_LOGGING_CATEGORY(lcHttpStatus, "clipnote.http", QtWarningMsg)

QString internetStatusText(int status, const QString& info) {
    switch (status) {
    case kStatusResolvingName:
        return QStringLiteral("resolving name for %1").arg(info);
    case kStatusNameResolved:
        return QStringLiteral("resolved name for %1!").arg(info);
    case kStatusConnectingToServer:
        return QStringLiteral("Connecting to server...");
    case kStatusConnectedToServer:
        return QStringLiteral("Connected to server!");
    case kStatusSendingRequest:
        return QStringLiteral("Sending request...");
    case kStatusRequestSent:
        return QStringLiteral("Request sent");
    case kStatusReceivingResponse:
        return QStringLiteral("Receiving response...");
    case kStatusResponseReceived:
        return QStringLiteral("Response received!");
    case kStatusClosingConnection:
        return QStringLiteral("Closing connection...");
    case kStatusConnectionClosed:
        return QStringLiteral("Connection close!");
    case kStatusHandleCreated:
        return QStringLiteral("Connection created!");
    case kStatusHandleClosing:
        return QStringLiteral("Closing Connection...");
    case kStatusRequestComplete:
        return QStringLiteral("request complete");
    case kStatusRedirect:
        return QStringLiteral("Redirected to URL");
    case kStatusStateChange:
        return QStringLiteral("Busy");
    default:
        return QStringLiteral("Unknown status: %1").arg(status);
    }
}

CServiceSession::CServiceSession() : m_handle(curl_easy_init()) {
    if (m_handle) {
        http::prepareHandle(m_handle);
        OnStatusCallback(kStatusHandleCreated, {});
    }
}

CServiceSession::~CServiceSession() {
    if (m_handle) {
        OnStatusCallback(kStatusHandleClosing, {});
        curl_easy_cleanup(m_handle);
    }
}

void CServiceSession::OnStatusCallback(int status, const QString& info) {
    qCDebug(lcHttpStatus).noquote() << internetStatusText(status, info);
}
