#pragma once

// What the folder list tests share: a fresh user folder F with its four
// folders for every test, the signed-in user in ClientCore, a stand-in for
// the main window that records the posted WM_UPDATE_COUNTS events, answers
// for message boxes, context menus and the save dialog, and ways to click,
// right-click and look at the drawn rows.

#include "app/clientcore.h"
#include "platform/filestatus.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/savefiledialog.h"
#include "store/lists/folderlist.h"
#include "store/picturecache.h"
#include "store/storenames.h"
#include "testenvironment.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QMap>
#include <QMenu>
#include <QTest>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

// Receives what the lists post to their parent window.
class CountsRecorder : public QObject {
public:
    QList<qintptr> lParams;

    bool event(QEvent* event) override {
        if (event->type() == static_cast<QEvent::Type>(WM_UPDATE_COUNTS)) {
            const auto* message = static_cast<PrivateEvent*>(event);
            if (message->wParam() == 0)
                lParams.append(message->lParam());
            return true;
        }
        return QObject::event(event);
    }
};

// One context menu as a list opened it.
struct MenuSeen {
    QStringList texts; // separators as ""
    QList<int> commands;
    QList<bool> enabled;
    bool opened = false;

    bool isEnabled(int command) const {
        const qsizetype at = commands.indexOf(command);
        return at >= 0 && enabled.at(at);
    }
};

class ListWorld {
public:
    ListWorld() { m_core.SetRegistryKey(QStringLiteral("ZEB")); }

    // A fresh user folder, signed in as `user`, and fresh hooks.
    void reset(const QString& user = QStringLiteral("alice@example.org")) {
        ++m_runs;
        const QString base = env.makeFolder(QStringLiteral("run%1").arg(m_runs));
        userFolder = base + QLatin1Char('/') + user;
        for (const char* folder : {"Inbox", "Outbox", "Sent", "Contacts"})
            QDir().mkpath(userFolder + QLatin1Char('/') + QLatin1String(folder));
        m_core.m_strFolder = userFolder;
        m_core.m_strUserId = user;
        m_core.m_bSendReceiveNow = 0;
        window.lParams.clear();
        boxes.clear();
        boxAnswers.clear();
        menus.clear();
        menuChoice = 0;
        saveAnswers.clear();
        saveRequests.clear();
        setMessageBoxHook([this](const MessageBoxCall& call) {
            boxes.append(call);
            return boxAnswers.isEmpty() ? QMessageBox::Ok : boxAnswers.takeFirst();
        });
        setPopupMenuHook([this](QMenu& menu) {
            MenuSeen seen;
            seen.opened = true;
            for (const QAction* action : menu.actions()) {
                seen.texts.append(action->isSeparator() ? QString() : action->text());
                seen.commands.append(commandOf(action));
                seen.enabled.append(action->isEnabled());
            }
            menus.append(seen);
            return findCommand(menu, menuChoice);
        });
        setSaveFileHook([this](const SaveFileRequest& request) {
            saveRequests.append(request);
            return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
        });
    }

    ClientCore& core() { return m_core; }

    QString folderPath(Folder folder) const {
        return userFolder + QLatin1Char('/') + folderCreatedName(folder);
    }
    QString path(Folder folder, const QString& name) const {
        return folderPath(folder) + QLatin1Char('/') + name;
    }
    bool exists(Folder folder, const QString& name) const {
        struct stat st {};
        return ::lstat(QFile::encodeName(path(folder, name)).constData(), &st) == 0;
    }
    void put(Folder folder, const QString& name, const QByteArray& bytes = "video") const {
        QVERIFY(writeFile(path(folder, name), bytes));
    }
    // A JPEG of one colour.
    void putJpeg(Folder folder, const QString& name, const QColor& colour,
                 QSize size = QSize(48, 36)) const {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        QVERIFY(image.save(path(folder, name), "JPG", 100));
    }
    void setDate(Folder folder, const QString& name, const QDateTime& date) const {
        QVERIFY(FileStatus::shared().setDate(path(folder, name), date));
    }
    void setRead(Folder folder, const QString& name, bool read) const {
        QVERIFY(FileStatus::shared().setRead(path(folder, name), read));
    }

    // Every entry under F with its bytes, to show what an operation left alone.
    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> tree;
        QDirIterator it(userFolder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString entry = it.next();
            if (it.fileName().startsWith(QLatin1Char('.')))
                continue; // the read-state file, if the file system needs one
            // Only regular files are read: opening a pipe would wait.
            struct stat st {};
            const bool regular =
                ::lstat(QFile::encodeName(entry).constData(), &st) == 0 && S_ISREG(st.st_mode);
            tree.insert(entry, regular ? readFile(entry) : QByteArray("<entry>"));
        }
        return tree;
    }

    TestEnvironment env;
    QString userFolder;
    CountsRecorder window;
    QList<MessageBoxCall> boxes;
    QList<QMessageBox::StandardButton> boxAnswers;
    QList<MenuSeen> menus;
    int menuChoice = 0;
    QStringList saveAnswers;
    QList<SaveFileRequest> saveRequests;

private:
    ClientCore m_core;
    int m_runs = 0;
};

// Names of the files directly in a folder, sorted.
inline QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The list on screen at the size the main window gives it.
inline bool showList(QWidget& list) {
    list.resize(315, 320);
    list.show();
    return QTest::qWaitForWindowExposed(&list);
}

// Shown and filled, as the main window's first showing of a tab does.
inline bool showFilled(CFolderList& list) {
    if (!showList(list))
        return false;
    list.Refill(0);
    return true;
}

inline QPoint rowCentre(const CFolderList& list, int row) {
    return list.rowRect(row).center();
}

inline void clickRow(CFolderList& list, int row, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, rowCentre(list, row));
}

// A right click: on a row (which selects it unless it is selected already)
// or, with row -1, on the empty space below the rows; then the context menu.
inline void rightClick(CFolderList& list, int row) {
    const QPoint at = row >= 0
                          ? rowCentre(list, row)
                          : QPoint(list.viewport()->width() / 2, list.viewport()->height() - 3);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &menu);
}

inline void selectRows(CFolderList& list, const QList<int>& rows) {
    list.clearSelection();
    for (int row : rows)
        clickRow(list, row, Qt::ControlModifier);
}

inline QImage grabList(CFolderList& list) {
    return list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline int countPixels(const QImage& image, const QRect& area,
                       const std::function<bool(const QColor&)>& test) {
    int n = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            n += test(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

inline QColor darkestPixel(const QImage& image, const QRect& area) {
    QColor darkest(Qt::white);
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() + c.green() + c.blue() < darkest.red() + darkest.green() + darkest.blue())
                darkest = c;
        }
    return darkest;
}

inline bool isBluish(const QColor& c) {
    return c.blue() > c.red() + 60 && c.blue() > c.green() + 60;
}
inline bool isGrey(const QColor& c) {
    return qAbs(c.red() - c.green()) < 12 && qAbs(c.green() - c.blue()) < 12 && c.red() > 100 &&
           c.red() < 235;
}
inline bool isNear(const QColor& a, const QColor& b, int tolerance = 24) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// The parts of a row the lists draw into.
inline QRect pictureArea(const CFolderList& list, int row) {
    const QRect r = list.rowRect(row);
    return QRect(r.left() + 1, r.top() + 1, CFolderList::kPictureSide, CFolderList::kPictureSide);
}
inline QRect textArea(const CFolderList& list, int row) {
    const QRect r = list.rowRect(row);
    return QRect(r.left() + CFolderList::kPictureColumn + 1, r.top(),
                 r.width() - CFolderList::kPictureColumn - 1, CFolderList::kItemHeight);
}

// The context menu as it opens with these rows selected (right click on the
// first of them, or below the rows when none is). Not opened: opened false.
inline MenuSeen menuWith(ListWorld& world, CFolderList& list, const QList<int>& selected) {
    selectRows(list, selected);
    const qsizetype before = world.menus.size();
    rightClick(list, selected.isEmpty() ? -1 : selected.first());
    return world.menus.size() == before + 1 ? world.menus.last() : MenuSeen();
}
