#pragma once

#include "service/sendreceiveworker.h"

#include <QPointer>

class CMainDialog;
class MessageStore;

// How the workers reach the main window: every change is queued to the UI
// thread or posted as a private message; counting is done on the worker's
// own thread so the window never waits on the disk.
class MainWindowLink : public CycleObserver {
public:
    MainWindowLink(CMainDialog* window, const MessageStore& store);

    void setStatus(const QString& text) override;
    void reloadList(int folder) override;
    void setTabCount(int tab, int count) override;
    void setTrayBlinking(bool blinking) override;
    void newMessage(const QString& name) override;
    void contactsChanged() override;
    void updateAllCounts() override;
    void signedOut() override;

private:
    QPointer<CMainDialog> m_window;
    const MessageStore& m_store;
};
