#include "service/pagefetch.h"

#include "service/httpshared.h"

#include <curl/curl.h>

namespace {
struct Sink {
    FetchedPage* page;
    qsizetype maxBytes;
    const std::atomic<bool>* cancel;
};

size_t keep(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    const qsizetype room = sink->maxBytes - sink->page->body.size();
    if (static_cast<qsizetype>(n) > room)
        return 0;
    sink->page->body.append(data, static_cast<qsizetype>(n));
    return n;
}

int checkCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* sink = static_cast<Sink*>(user);
    return sink->cancel && sink->cancel->load() ? 1 : 0;
}
} // namespace

FetchedPage fetchPage(const QString& url, qsizetype maxBytes, long timeoutMs,
                      const std::atomic<bool>* cancel) {
    FetchedPage page;
    CURL* h = curl_easy_init();
    if (!h) {
        page.error = http::kErrorInternal;
        return page;
    }
    http::prepareHandle(h);
    Sink sink{&page, maxBytes, cancel};
    const QByteArray address = url.toUtf8();
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keep);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkCancel);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &sink);
    const CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK) {
        page.error = http::errorNumber(rc);
    } else {
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &page.status);
        const char* type = nullptr;
        if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
            page.contentType = type;
    }
    curl_easy_cleanup(h);
    return page;
}
