#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// One GET of a whole page on its own libcurl handle (sharing the cookie
// store), for callers off the UI thread such as the web panel. The body is
// read up to maxBytes; `cancel` set from another thread ends the transfer.
struct FetchedPage {
    int error = 0;   // 0, or an error number as the HTTP session reports them
    long status = 0; // HTTP status when a reply came
    QByteArray contentType;
    QByteArray body;
};

FetchedPage fetchPage(const QString& url, qsizetype maxBytes, long timeoutMs,
                      const std::atomic<bool>* cancel = nullptr);
