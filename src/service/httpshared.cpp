#include "service/httpshared.h"

#include "platform/helpers.h"

#include <QFile>

#include <curl/curl.h>

#include <mutex>

namespace http {
namespace {
std::mutex g_shareLocks[CURL_LOCK_DATA_LAST];
CURLSH* g_share = nullptr;
std::once_flag g_shareOnce;

void lockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
    g_shareLocks[data].lock();
}

void unlockShare(CURL*, curl_lock_data data, void*) {
    g_shareLocks[data].unlock();
}

int reportProgress(void* watch, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    return static_cast<StallWatch*>(watch)->check(received + sent) ? 1 : 0;
}

std::mutex g_caMutex;
QByteArray g_extraCaFile;
constexpr char kSystemCaFolder[] = "/etc/ssl/certs";

QByteArray extraCaFile() {
    std::lock_guard lock(g_caMutex);
    return g_extraCaFile;
}

CURLSH* share() {
    std::call_once(g_shareOnce, [] {
        g_share = curl_share_init();
        if (!g_share)
            return;
        curl_share_setopt(g_share, CURLSHOPT_LOCKFUNC, lockShare);
        curl_share_setopt(g_share, CURLSHOPT_UNLOCKFUNC, unlockShare);
        curl_share_setopt(g_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(g_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        // Resumed TLS sessions spare each transfer a full handshake.
        curl_share_setopt(g_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    });
    return g_share;
}
} // namespace

bool initialise() {
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void cleanup() {
    curl_global_cleanup();
}

void prepareHandle(CURL* handle) {
    // An empty cookie file name switches the cookie engine on without
    // reading any file.
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    if (CURLSH* s = share())
        curl_easy_setopt(handle, CURLOPT_SHARE, s);
    // The password travels in the sign-in query: it goes only to a host
    // whose certificate and name check out.
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    const QByteArray extra = extraCaFile();
    if (!extra.isEmpty()) {
        // The file names the added authority; the system's own stay trusted
        // through their folder.
        curl_easy_setopt(handle, CURLOPT_CAINFO, extra.constData());
        curl_easy_setopt(handle, CURLOPT_CAPATH, kSystemCaFolder);
    }
}

void setExtraCaFile(const QString& path) {
    std::lock_guard lock(g_caMutex);
    g_extraCaFile = QFile::encodeName(path);
}

QString extraCaFileFromArguments(const QStringList& arguments) {
    const QString given = optionValue(arguments, QStringLiteral("--ca-file"));
    return given.isEmpty() ? qEnvironmentVariable("CLIPNOTE_CA_FILE") : given;
}

QString secureFailureText(const QString& baseUrl) {
    return QStringLiteral("The service at %1 did not show a certificate that can be verified, "
                          "so nothing was sent to it. If it uses a private certificate "
                          "authority, start the program with --ca-file and that authority's "
                          "certificate.")
        .arg(baseUrl);
}

void StallWatch::install(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
}

bool StallWatch::check(long long bytesMoved) {
    if (bytesMoved != m_lastBytes) {
        m_lastBytes = bytesMoved;
        m_sinceProgress.restart();
        return false;
    }
    if (m_sinceProgress.elapsed() > m_limitMs)
        m_stalled = true;
    return m_stalled;
}

int errorNumber(int curlCode) {
    switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
        return 0;
    case CURLE_OPERATION_TIMEDOUT:
        return kErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return kErrorCannotConnect;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return kErrorInvalidUrl;
    case CURLE_PARTIAL_FILE:
        return kErrorConnectionAborted;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return kErrorConnectionReset;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return kErrorSecureFailure;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
        return kErrorInvalidServerResponse;
    default:
        return kErrorInternal;
    }
}

} // namespace http
