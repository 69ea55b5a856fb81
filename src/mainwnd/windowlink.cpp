#include "mainwnd/windowlink.h"

#include "mainwnd/maindialog.h"
#include "platform/messages.h"
#include "store/lists/mytabs.h"
#include "store/messagestore.h"

#include <QCoreApplication>

namespace {
template <typename Function> void onWindow(const QPointer<CMainDialog>& window, Function function) {
    CMainDialog* target = window.data();
    if (!target)
        return;
    QMetaObject::invokeMethod(target, std::move(function), Qt::QueuedConnection);
}
} // namespace

MainWindowLink::MainWindowLink(CMainDialog* window, const MessageStore& store)
    : m_window(window), m_store(store) {}

void MainWindowLink::setStatus(const QString& text) {
    onWindow(m_window, [w = m_window, text] {
        if (w)
            w->setStatusText(text);
    });
}

void MainWindowLink::reloadList(int folder) {
    onWindow(m_window, [w = m_window, folder] {
        if (w)
            w->reloadList(folder);
    });
}

void MainWindowLink::setTabCount(int tab, int count) {
    onWindow(m_window, [w = m_window, tab, count] {
        if (!w)
            return;
        w->tabs()->setCount(tab, count);
        w->tabs()->repaint();
    });
}

void MainWindowLink::setTrayBlinking(bool blinking) {
    onWindow(m_window, [w = m_window, blinking] {
        if (w)
            w->setTrayBlinking(blinking);
    });
}

void MainWindowLink::newMessage(const QString& name) {
    if (CMainDialog* window = m_window.data())
        QCoreApplication::postEvent(window, new PrivateEvent(WM_NEW_MESSAGE, 0, 0, name));
}

void MainWindowLink::contactsChanged() {
    if (CMainDialog* window = m_window.data())
        QCoreApplication::postEvent(window, new PrivateEvent(WM_UPDATE_COUNTS, 0, 3));
}

void MainWindowLink::updateAllCounts() {
    const int unread = m_store.countUnread();
    const int outbox = m_store.countFiles(Folder::Outbox, QStringLiteral(".jpg"), false);
    const int sent = m_store.countFiles(Folder::Sent, QStringLiteral(".jpg"), false);
    const int contacts = m_store.countFiles(Folder::Contacts, QString(), false);
    onWindow(m_window, [w = m_window, unread, outbox, sent, contacts] {
        if (!w)
            return;
        w->tabs()->setCount(0, unread);
        w->tabs()->setCount(1, outbox);
        w->tabs()->setCount(2, sent);
        w->tabs()->setCount(3, contacts);
        w->setTrayBlinking(unread > 0);
        w->tabs()->repaint();
    });
}

void MainWindowLink::signedOut() {
    onWindow(m_window, [w = m_window] {
        if (w)
            w->askToSignInAgain();
    });
}
