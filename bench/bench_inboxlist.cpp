// Times the Inbox list on an Inbox of 10,000 messages, each a video and a
// 192 x 144 JPEG thumbnail, half of them played: the fill (listing, reading
// every message's date and sorting newest first) and the first paint of one
// screen of rows (the widget grabbed with no picture decoded yet), then a
// repaint of the same screen and a scroll of one page, which reuse the
// decoded pictures. Medians of several runs, in milliseconds.

#include "benchfiles.h"
#include "platform/filestatus.h"
#include "store/lists/inboxlist.h"
#include "store/picturecache.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMessages = 10000;
constexpr int kRepetitions = 9;
constexpr double kTargetMs = 300.0;

// A few thumbnails as a recording makes them: 192 x 144 JPEG.
QList<QByteArray> thumbnails() {
    QList<QByteArray> jpegs;
    for (int i = 0; i < 8; ++i) {
        QImage image(192, 144, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 45, 160, 220));
        QPainter painter(&image);
        painter.setBrush(QColor::fromHsv((i * 45 + 180) % 360, 200, 120));
        painter.drawEllipse(40 + i * 5, 20, 100, 100);
        painter.end();
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG");
        jpegs.append(bytes);
    }
    return jpegs;
}

bool fillInbox(const MessageStore& store) {
    const QString inbox = store.folderPath(Folder::Inbox);
    const QDateTime base(QDate(2008, 12, 7), QTime(15, 45, 12));
    const QByteArray video(2048, 'v');
    const QList<QByteArray> jpegs = thumbnails();
    for (int i = 0; i < kMessages; ++i) {
        const QString stem = QStringLiteral("sender%1@example.org;%2").arg(i % 97).arg(100000 + i);
        const QString videoPath = inbox + QLatin1Char('/') + stem + QStringLiteral(".wmv");
        if (!writeSmallFile(videoPath, video) ||
            !writeSmallFile(inbox + QLatin1Char('/') + stem + QStringLiteral(".jpg"),
                            jpegs.at(i % jpegs.size())))
            return false;
        // Dates out of name order, so the sort has work to do.
        const int minutes = (i * 7919) % kMessages;
        if (!store.fileStatus().SetStatus(videoPath, {i % 2 == 0, base.addSecs(minutes * 60)}))
            return false;
    }
    return true;
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double elapsedMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    const QString userFolder = root.path() + QStringLiteral("/Bench User@Example.org");
    QDir().mkpath(userFolder + QStringLiteral("/Inbox"));
    const MessageStore store(userFolder);
    QElapsedTimer setup;
    setup.start();
    if (!fillInbox(store)) {
        std::printf("could not create the Inbox\n");
        return 1;
    }
    ::sync();
    std::printf("Inbox of %d messages with thumbnails, created in %.1f s\n", kMessages,
                double(setup.elapsed()) / 1000);

    CInBoxList list;
    list.setStore(store);
    // The size the main window gives the list in its smallest window.
    list.resize(315, 500);
    list.show();
    QCoreApplication::processEvents();

    std::vector<double> fills, firstPaints, repaints, scrolls, together;
    int rows = 0;
    QImage screen;
    for (int run = 0; run <= kRepetitions; ++run) {
        list.hide();
        PictureCache::lists().clear();
        const double fill = elapsedMs([&] { list.Refill(1); });
        rows = list.count();
        list.show();
        const double firstPaint = elapsedMs([&] { screen = list.grab().toImage(); });
        const double repaint = elapsedMs([&] { screen = list.grab().toImage(); });
        const double scroll = elapsedMs([&] {
            QScrollBar* bar = list.verticalScrollBar();
            bar->setValue(bar->value() + bar->pageStep());
            screen = list.grab().toImage();
            bar->setValue(0);
            screen = list.grab().toImage();
        });
        // The main window's case: a fill of the visible list, which paints
        // the rows at once.
        PictureCache::lists().clear();
        const double shown = elapsedMs([&] {
            list.Refill(1);
            screen = list.grab().toImage();
        });
        if (run == 0) {
            std::printf("first run (nothing remembered yet): fill %.1f ms, first paint %.1f ms\n",
                        fill, firstPaint);
            continue;
        }
        fills.push_back(fill);
        firstPaints.push_back(firstPaint);
        repaints.push_back(repaint);
        scrolls.push_back(scroll);
        together.push_back(shown);
    }
    // What the fill is made of.
    std::vector<double> listings, statuses;
    for (int run = 0; run < kRepetitions; ++run) {
        QStringList names;
        listings.push_back(elapsedMs([&] { names = store.list(Folder::Inbox); }));
        const QString folder = store.folderPath(Folder::Inbox) + QLatin1Char('/');
        statuses.push_back(elapsedMs([&] {
            FileState state;
            for (const QString& name : names)
                store.fileStatus().GetStatus(folder + name, state);
        }));
    }
    const double fillMs = median(fills);
    const double paintMs = median(firstPaints);
    std::printf("%d rows, %d visible, median of %d runs\n", rows,
                list.viewport()->height() / CFolderList::kRowHeight + 1, kRepetitions);
    std::printf("  fill                          %8.2f ms\n", fillMs);
    std::printf("    listing the folder            %8.2f ms\n", median(listings));
    std::printf("    reading every status          %8.2f ms\n", median(statuses));
    std::printf("  first paint (no picture kept) %8.2f ms\n", paintMs);
    std::printf("  repaint (pictures kept)       %8.2f ms\n", median(repaints));
    std::printf("  page down and back            %8.2f ms\n", median(scrolls));
    std::printf("  fill of the shown list + grab %8.2f ms\n", median(together));
    const bool met = fillMs + paintMs < kTargetMs;
    std::printf("  fill + first paint target %.0f ms: %.1f ms, %s\n", kTargetMs, fillMs + paintMs,
                met ? "met" : "MISSED");
    return met ? 0 : 2;
}
