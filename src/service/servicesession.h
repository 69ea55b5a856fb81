#pragma once

#include <QString>

typedef void CURL;

// The text written to the debug log for one status notification of the
// account-page session; "%s" parts take the host name.
QString internetStatusText(int status, const QString& info);

// Status notification numbers of the session.
enum InternetStatus : int {
    kStatusResolvingName = 10,
    kStatusNameResolved = 11,
    kStatusConnectingToServer = 20,
    kStatusConnectedToServer = 21,
    kStatusSendingRequest = 30,
    kStatusRequestSent = 31,
    kStatusReceivingResponse = 40,
    kStatusResponseReceived = 41,
    kStatusClosingConnection = 50,
    kStatusConnectionClosed = 51,
    kStatusHandleCreated = 60,
    kStatusHandleClosing = 70,
    kStatusRequestComplete = 100,
    kStatusRedirect = 110,
    kStatusStateChange = 200,
};

// The HTTP session of the account pages: one libcurl handle, reused for
// every page, with the session's fixed parameters. Status notifications go
// to the "clipnote.http" debug log, never to the screen.
class CServiceSession {
public:
    CServiceSession();
    virtual ~CServiceSession();
    CServiceSession(const CServiceSession&) = delete;
    CServiceSession& operator=(const CServiceSession&) = delete;

    bool isValid() const { return m_handle != nullptr; }
    CURL* handle() const { return m_handle; }

    virtual void OnStatusCallback(int status, const QString& info);

    // Agent name of the account-page session.
    static constexpr char kAgent[] = "DODERO";

private:
    CURL* m_handle = nullptr;
};
