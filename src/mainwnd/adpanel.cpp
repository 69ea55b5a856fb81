#include "mainwnd/adpanel.h"

#include "service/pagefetch.h"

#include <QPointer>

namespace {
constexpr qsizetype kLargestPage = 512 * 1024;
constexpr long kFetchTimeoutMs = 15000;
} // namespace

CAd::CAd(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setFrameShape(QFrame::NoFrame);
    setHtml(QString());
}

CAd::~CAd() {
    stopFetch();
}

void CAd::stopFetch() {
    if (m_cancel)
        m_cancel->store(true);
    if (m_fetcher.joinable())
        m_fetcher.join();
}

void CAd::Navigate(const QString& url) {
    stopFetch();
    m_url = url;
    const quint64 generation = ++m_generation;
    m_cancel = std::make_unique<std::atomic<bool>>(false);
    const std::atomic<bool>* cancel = m_cancel.get();
    QPointer<CAd> self(this);
    m_fetcher = std::thread([self, url, generation, cancel] {
        const FetchedPage page = fetchPage(url, kLargestPage, kFetchTimeoutMs, cancel);
        const bool ok = page.error == 0 && page.status == 200;
        const QString html = ok ? QString::fromUtf8(page.body) : QString();
        // The panel only ever changes on the UI thread.
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, ok, html] {
                if (self)
                    self->showPage(generation, ok, html);
            },
            Qt::QueuedConnection);
    });
}

void CAd::showPage(quint64 generation, bool ok, const QString& html) {
    if (generation != m_generation)
        return;
    if (ok)
        setHtml(html);
    Q_EMIT pageLoaded(ok);
}
