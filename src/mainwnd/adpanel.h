#pragma once

#include <QTextBrowser>

#include <atomic>
#include <memory>
#include <thread>

// The web panel under the preview area: a light HTML view of the service's
// page. The page is fetched off the UI thread and shown when it arrives;
// until the first navigation the panel is empty.
class CAd : public QTextBrowser {
    Q_OBJECT

public:
    explicit CAd(QWidget* parent = nullptr);
    ~CAd() override;

    void Navigate(const QString& url);
    QString currentUrl() const { return m_url; }

Q_SIGNALS:
    // The page arrived (true) or could not be fetched (false).
    void pageLoaded(bool ok);

private:
    void showPage(quint64 generation, bool ok, const QString& html);
    void stopFetch();

    QString m_url;
    quint64 m_generation = 0;
    std::unique_ptr<std::atomic<bool>> m_cancel;
    std::thread m_fetcher;
};
