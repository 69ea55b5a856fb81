#include "service/pagesession.h"

#include "platform/helpers.h"
#include "service/httpshared.h"
#include "service/servicesession.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <curl/curl.h>

#include <chrono>
#include <thread>

// The host the session talks to; opened by the first page request and kept.
struct PageConnection {
    QString server;
};

// The latest request and its reply.
struct PageRequest {
    long status = 0;
    QByteArray contentType;
    QByteArray body;
    bool truncated = false;
};

namespace {

// One retry of a failed connect, after a back-off of a second.
constexpr int kConnectRetries = 1;
constexpr int kConnectBackoffMs = 1000;

struct Transfer {
    CServiceSession* session = nullptr;
    QString server;
    PageRequest* request = nullptr;
    bool sawResponse = false;
};

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (!t->sawResponse) {
        t->sawResponse = true;
        t->session->OnStatusCallback(kStatusReceivingResponse, t->server);
    }
    QByteArray& body = t->request->body;
    const qsizetype room = PageSession::kMaxReplyBytes - body.size();
    if (static_cast<qsizetype>(n) > room) {
        // A longer reply than any page of the service sends is cut here;
        // reading stops so that it can neither hang nor fill memory.
        body.append(data, room);
        t->request->truncated = true;
        return 0;
    }
    body.append(data, static_cast<qsizetype>(n));
    return n;
}

int traceStatus(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const QByteArray text(data, static_cast<qsizetype>(size));
    switch (type) {
    case CURLINFO_TEXT:
        if (text.startsWith("  Trying") || text.startsWith("Trying")) {
            t->session->OnStatusCallback(kStatusNameResolved, t->server);
            t->session->OnStatusCallback(kStatusConnectingToServer, t->server);
        } else if (text.startsWith("Connected to")) {
            t->session->OnStatusCallback(kStatusConnectedToServer, t->server);
        } else if (text.startsWith("Closing connection")) {
            t->session->OnStatusCallback(kStatusClosingConnection, t->server);
            t->session->OnStatusCallback(kStatusConnectionClosed, t->server);
        }
        break;
    case CURLINFO_HEADER_OUT:
        t->session->OnStatusCallback(kStatusSendingRequest, t->server);
        t->session->OnStatusCallback(kStatusRequestSent, t->server);
        break;
    default:
        break;
    }
    return 0;
}

QString replyText(const QByteArray& body) {
    // Lines come back with CR LF ends whatever the service sent: every CR
    // is dropped and every LF becomes CR LF.
    QByteArray text;
    text.reserve(body.size() + body.count('\n'));
    for (char c : body) {
        if (c == '\r')
            continue;
        if (c == '\n')
            text.append("\r\n", 2);
        else
            text.append(c);
    }
    return QString::fromUtf8(text);
}

} // namespace

PageSession::PageSession() = default;

PageSession::~PageSession() {
    CloseSession();
}

void PageSession::setServiceBase(const QString& baseUrl) {
    m_base = baseUrl;
    if (!m_base.isEmpty() && !m_base.endsWith(QLatin1Char('/')))
        m_base += QLatin1Char('/');
}

void PageSession::setConnectTimeoutMs(long milliseconds) {
    m_connectTimeoutMs = milliseconds > 0 ? milliseconds : 30000;
}

int PageSession::OpenSession() {
    CloseSession();
    auto session = std::make_unique<CServiceSession>();
    if (!session->isValid())
        return 0;
    CURL* h = session->handle();
    curl_easy_setopt(h, CURLOPT_USERAGENT, CServiceSession::kAgent);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    m_session = std::move(session);
    m_reopenAfterFailure = false;
    return 1;
}

int PageSession::CloseSession() {
    m_request.reset();
    m_connection.reset();
    m_session.reset();
    return 1;
}

int PageSession::OpenPageRequest(const QString& server, const QString& path) {
    if (server.isNull() || path.isNull())
        return 0;
    // One failed exchange closes the session; the next request opens a new
    // one, so a passing network fault does not lock the user out until the
    // program restarts.
    if (!m_session && m_reopenAfterFailure)
        OpenSession();
    if (!m_session)
        return 1;
    m_request.reset();
    if (!m_connection)
        m_connection = std::make_unique<PageConnection>(PageConnection{server});

    CURL* h = m_session->handle();
    const QByteArray url = (m_base + path).toUtf8();
    curl_slist* headers = nullptr;
    // The page is always fetched anew and never kept in a cache.
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");

    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, traceStatus);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_connectTimeoutMs);

    m_session->OnStatusCallback(kStatusResolvingName, server);
    // A connect that fails is tried again after the back-off, as long as the
    // retry still fits in the connect time-out: a service that is restarting
    // is reached, an unreachable one costs no more than the time-out.
    QElapsedTimer connecting;
    connecting.start();
    std::unique_ptr<PageRequest> request;
    CURLcode rc = CURLE_OK;
    bool stalled = false;
    for (int retriesLeft = kConnectRetries;; --retriesLeft) {
        request = std::make_unique<PageRequest>();
        Transfer transfer;
        transfer.session = m_session.get();
        transfer.server = server;
        transfer.request = request.get();
        http::StallWatch stallWatch(m_connectTimeoutMs);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_DEBUGDATA, &transfer);
        stallWatch.install(h);
        rc = curl_easy_perform(h);
        stalled = stallWatch.stalled();
        if (rc != CURLE_COULDNT_CONNECT || retriesLeft == 0)
            break;
        const int backoffMs = scaledPeriod(kConnectBackoffMs);
        const long retryTimeoutMs = m_connectTimeoutMs - connecting.elapsed() - backoffMs;
        if (retryTimeoutMs <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(backoffMs));
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, retryTimeoutMs);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);

    if (rc == CURLE_WRITE_ERROR && request->truncated)
        rc = CURLE_OK;
    if (rc != CURLE_OK) {
        const int error = stalled ? http::kErrorTimeout : http::errorNumber(rc);
        m_lastError = error;
        m_reopenAfterFailure = true;
        if (!CloseSession())
            return 0;
        if (error == http::kErrorTimeout)
            std::this_thread::sleep_for(std::chrono::milliseconds(scaledPeriod(1000)));
        return error;
    }
    m_lastError = 0;
    m_session->OnStatusCallback(kStatusResponseReceived, server);
    m_session->OnStatusCallback(kStatusRequestComplete, server);

    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &request->status);
    const char* type = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        request->contentType = type;
    m_request = std::move(request);
    return static_cast<int>(m_request->status);
}

int PageSession::FetchPage(const QString& server, const QString& path, QString& reply) {
    if (path.isNull())
        return 0;
    const qsizetype www = path.indexOf(QLatin1String("www."));
    if (www >= 0) {
        QString stretch = path.mid(www);
        const qsizetype slash = stretch.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            stretch.truncate(slash);
        if (!stretch.contains(server))
            return -1;
    }
    if (OpenPageRequest(server, path) != 200)
        return -2;
    if (m_request && m_connection) {
        const QString type = QString::fromLatin1(m_request->contentType);
        reply = type;
        const bool textual =
            type.contains(QLatin1String("text")) || type.contains(QLatin1String("x-javascript"));
        const bool template_ = path.size() > 4 && path.endsWith(QLatin1String(".tpl"));
        if (!textual && !template_)
            return -3;
    }
    if (m_request && m_connection && m_session) {
        reply = replyText(m_request->body);
    }
    return 0;
}
