#include "service/httpshared.h"

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

CURLSH* share() {
    std::call_once(g_shareOnce, [] {
        g_share = curl_share_init();
        if (!g_share)
            return;
        curl_share_setopt(g_share, CURLSHOPT_LOCKFUNC, lockShare);
        curl_share_setopt(g_share, CURLSHOPT_UNLOCKFUNC, unlockShare);
        curl_share_setopt(g_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(g_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
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

void shareCookies(CURL* handle) {
    // An empty cookie file name switches the cookie engine on without
    // reading any file.
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    if (CURLSH* s = share())
        curl_easy_setopt(handle, CURLOPT_SHARE, s);
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
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
        return kErrorInvalidServerResponse;
    default:
        return kErrorInternal;
    }
}

} // namespace http
