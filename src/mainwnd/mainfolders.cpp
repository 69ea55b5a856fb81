// The main window's folder side: which list is shown, what selecting a
// message does, and the counts in the tab labels.

#include "mainwnd/maindialog.h"

#include "app/clientcore.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/trayicon.h"
#include "platform/messages.h"
#include "recorder/capturewindow.h"
#include "store/lists/contactlist.h"
#include "store/lists/inboxlist.h"
#include "store/lists/mytabs.h"
#include "store/lists/outboxlist.h"
#include "store/lists/sentlist.h"
#include "store/messagestore.h"
#include "store/player/ocx1.h"
#include "store/player/playercontrols.h"
#include "store/storenames.h"

#include <QApplication>

std::array<CFolderList*, 4> CMainDialog::folderLists() const {
    return {m_inbox, m_outbox, m_sent, m_contacts};
}

int CMainDialog::currentTab() const {
    return m_tabs->currentIndex();
}

void CMainDialog::ShowFolder() {
    m_inbox->hide();
    m_outbox->hide();
    m_sent->hide();
    m_contacts->hide();
    stopPlayer();
    // A recording in progress keeps its live preview whatever tab is shown.
    const bool recordingShown = m_flags.gestureActive.load() != 0;
    if (m_captureWindow && !recordingShown)
        m_captureWindow->hide();
    if (!recordingShown)
        SetIndicator(RecordIndicator::NoRecording);

    switch (currentTab()) {
    case 0: {
        m_inbox->Refill(0);
        m_inbox->show();
        m_inbox->raise();
        const QList<int> rows = m_inbox->selectedRowNumbers();
        if (!rows.isEmpty() && m_store && !recordingShown) {
            const QString name = m_inbox->textAt(rows.front());
            markRead(name);
            m_player->setURL(m_store->path(Folder::Inbox, name));
            if (m_captureWindow)
                m_captureWindow->hide();
            m_player->show();
            m_flags.playerShown = 1;
        }
        break;
    }
    case 1:
        m_outbox->Refill(0);
        m_outbox->show();
        m_outbox->raise();
        break;
    case 2:
        m_sent->Refill(0);
        m_sent->show();
        m_sent->raise();
        break;
    case 3:
        m_contacts->Refill(0);
        m_contacts->show();
        m_contacts->raise();
        GetRecipients();
        break;
    default:
        break;
    }
}

void CMainDialog::stopPlayer() {
    m_player->setURL(QString());
    m_player->hide();
    m_flags.playerShown = 0;
}

bool CMainDialog::playerKey(QKeyEvent* event) {
    if (!m_flags.playerShown.load() || m_player->isHidden())
        return false;
    // The keys reach the player from the list that plays it and from the
    // window itself. Up, Down and Delete stay with the list, which has no
    // use for Enter or the arrows across; the tab row keeps its arrows and
    // the web panel its keys.
    const QWidget* focus = QApplication::focusWidget();
    const bool fromList = !focus || focus == this || m_inbox->isAncestorOf(focus) ||
                          m_sent->isAncestorOf(focus) || m_player->isAncestorOf(focus);
    return fromList && m_player->controls()->handleKey(event);
}

void CMainDialog::markRead(const QString& inboxName) {
    if (m_store)
        m_store->markRead(inboxName);
}

void CMainDialog::onInboxItemChanged(const QString& text, bool selected) {
    if (selected)
        playItem(text, true);
    else
        stopPlayer();
}

void CMainDialog::onSentItemChanged(const QString& text, bool selected) {
    if (selected)
        playItem(text, false);
    else
        stopPlayer();
}

void CMainDialog::playItem(const QString& text, bool inbox) {
    const QStringList recipients = GetRecipients();
    if (recipients.size() != 1 || !m_store || m_flags.gestureActive.load()) {
        repaintPreview();
        return;
    }
    if (inbox)
        markRead(text);
    m_player->setURL(m_store->path(inbox ? Folder::Inbox : Folder::Sent, text));
    if (m_captureWindow)
        m_captureWindow->hide();
    m_player->raise();
    m_player->show();
    m_flags.playerShown = 1;
    if (!inbox)
        return;
    // The row is drawn black from now on.
    m_inbox->viewport()->update();
    UpdateCounts(0);
}

void CMainDialog::setTrayBlinking(bool blinking) {
    if (blinking) {
        m_timers.start(kTimerTrayBlink, kPeriodTrayBlinkMs);
    } else {
        m_timers.stop(kTimerTrayBlink);
        m_tray->modify(false);
    }
}

void CMainDialog::UpdateCounts(int folder) {
    if (folder == 0 || folder == -1) {
        const int unread = CountFiles(0, QStringLiteral(".jpg"), true);
        m_tabs->setCount(0, unread);
        setTrayBlinking(unread > 0);
    }
    if (folder == 1 || folder == -1)
        m_tabs->setCount(1, CountFiles(1, QStringLiteral(".jpg"), false));
    if (folder == 2 || folder == -1)
        m_tabs->setCount(2, CountFiles(2, QStringLiteral(".jpg"), false));
    if (folder == 3 || folder == -1)
        m_tabs->setCount(3, CountFiles(3, QString(), false));
    m_tabs->repaint();
}

int CMainDialog::CountFiles(int folder, const QString& exclusion, bool unreadOnly) const {
    Folder which;
    if (!m_store || !folderFromIndex(folder, &which))
        return 0;
    return m_store->countFiles(which, exclusion, unreadOnly);
}

void CMainDialog::reloadList(int folder) {
    switch (folder) {
    case 0:
        m_inbox->Refill(1);
        break;
    case 1:
        m_outbox->Refill(1);
        break;
    case 2:
        m_sent->Refill(1);
        break;
    case 3:
        m_contacts->Refill(1);
        break;
    default:
        break;
    }
}

QStringList CMainDialog::GetRecipients() {
    QStringList recipients;
    switch (currentTab()) {
    case 0:
        recipients = m_inbox->selectedUserIds();
        break;
    case 2:
        recipients = m_sent->selectedUserIds();
        break;
    case 3:
        recipients = m_contacts->selectedUserIds();
        break;
    default:
        break;
    }
    SetIndicator(recipients.isEmpty() ? RecordIndicator::NoRecording : RecordIndicator::Ready);
    return recipients;
}
