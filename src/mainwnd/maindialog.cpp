#include "mainwnd/maindialog.h"

#include "app/appfonts.h"
#include "app/clientcore.h"
#include "mainwnd/adpanel.h"
#include "mainwnd/recordindicator.h"
#include "mainwnd/statusline.h"
#include "mainwnd/trayicon.h"
#include "mainwnd/workerthreads.h"
#include "notify/notification.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "platform/popupmenu.h"
#include "platform/profile.h"
#include "platform/resources.h"
#include "recorder/capturewindow.h"
#include "recorder/recordsound.h"
#include "recorder/wmvwriter.h"
#include "service/dialogs/login.h"
#include "service/serviceaddress.h"
#include "service/servicetransport.h"
#include "store/dialogs/aboutbox.h"
#include "store/lists/contactlist.h"
#include "store/lists/inboxlist.h"
#include "store/lists/mytabs.h"
#include "store/lists/outboxlist.h"
#include "store/lists/sentlist.h"
#include "store/messagestore.h"
#include "store/options/optionssheet.h"
#include "store/player/ocx1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimerEvent>

CMainDialog* g_pMainDialog = nullptr;

namespace {
QString settingsSection() {
    return QLatin1String(kSettingsSection);
}

// The window's own menu command that opens the About box.
constexpr int kCommandAbout = 16;

// The window opens at the size of its template, never below its minimum.
constexpr QSize kMinimumSize(500, 550);
constexpr QSize kTemplateSize(708, 550);

CMainDialog::TransportFactory& transportFactory() {
    static CMainDialog::TransportFactory factory = [] {
        const ClientCore* core = ClientCore::instance();
        return makeServiceTransport(core->service(), core->m_strUserId,
                                    [core] { return core->password(); });
    };
    return factory;
}

QIcon iconOf(int id) {
    QIcon icon;
    for (const int size : iconSizes(id))
        icon.addPixmap(QPixmap::fromImage(loadIconResource(id, size)));
    return icon;
}
} // namespace

CMainDialog::CMainDialog(QWidget* parent) : QDialog(parent) {
    g_pMainDialog = this;
    setWindowTitle(QStringLiteral("Clipnote"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    // Painting covers the whole client area, so nothing is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(kMinimumSize);
    m_spaceRelease.setSingleShot(true);
    m_spaceRelease.setInterval(kSpaceReleaseSettleMs);
    connect(&m_spaceRelease, &QTimer::timeout, this, &CMainDialog::spaceReleased);
    m_secondTap.setSingleShot(true);
    connect(&m_secondTap, &QTimer::timeout, this, &CMainDialog::secondTapMissed);
    OnInitDialog();
}

void CMainDialog::setTransportFactory(TransportFactory factory) {
    transportFactory() = std::move(factory);
}

CMainDialog::~CMainDialog() {
    qApp->removeEventFilter(this);
    if (m_writer)
        stopRecording();
    m_recorder.reset();
    m_worker.reset();
    saveWindowRect();
    m_tray->remove();
    // Popups still showing for this window go with it.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* popup = qobject_cast<CNotification*>(widget); popup && popup->owner() == this)
            delete popup;
    if (g_pMainDialog == this)
        g_pMainDialog = nullptr;
}

void CMainDialog::OnInitDialog() {
    m_iconNormal = iconOf(kIconApp);
    m_iconAlert = iconOf(kIconAlert);
    createControls();
    SetIndicator(RecordIndicator::NoRecording);
    resize(kTemplateSize);
    placeWindow();
    setWindowIcon(m_iconNormal);
    m_timers.start(kTimerSignIn, kPeriodSignInMs);
    m_tray = new TrayIcon(this, m_iconNormal, m_iconAlert);
    m_tray->add();
    LayoutControls();
    // Space and F5 are seen before whichever control has the focus.
    qApp->installEventFilter(this);
}

void CMainDialog::createControls() {
    m_group = new QGroupBox(this);
    m_group->setObjectName(QStringLiteral("previewFrame"));
    m_group->setGeometry(2, 2, 326, 252);
    // The frame is drawn around the preview; clicks inside it belong to the
    // window's surface.
    m_group->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_player = new COcx1(this);
    m_player->setObjectName(QStringLiteral("player"));
    m_player->setGeometry(previewRect());
    m_player->hide();

    m_tabPage = new QFrame(this);
    m_tabPage->setObjectName(QStringLiteral("tabPage"));
    m_tabPage->setFrameShape(QFrame::StyledPanel);

    m_tabs = new CMyTabs(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->setFont(appFonts().thin10);
    m_tabs->InsertFolderTabs();
    connect(m_tabs, &CMyTabs::selChange, this, [this] { ShowFolder(); });
    connect(m_tabs, &CMyTabs::folderShownByRightClick, this, [this] { ShowFolder(); });

    m_inbox = new CInBoxList(this, this);
    m_inbox->setObjectName(QStringLiteral("inbox"));
    m_outbox = new COutBoxList(this, this);
    m_outbox->setObjectName(QStringLiteral("outbox"));
    m_outbox->hide();
    m_sent = new CSentList(this, this);
    m_sent->setObjectName(QStringLiteral("sent"));
    m_sent->hide();
    m_contacts = new CContactList(this, this);
    m_contacts->setObjectName(QStringLiteral("contacts"));
    m_contacts->hide();
    m_inbox->raise();
    connect(
        m_inbox, &CFolderList::itemChanged, this,
        [this](int, const QString& text, bool selected) { onInboxItemChanged(text, selected); });
    connect(m_sent, &CFolderList::itemChanged, this,
            [this](int, const QString& text, bool selected) { onSentItemChanged(text, selected); });
    // A click on the message already selected plays it again from the start.
    connect(m_inbox, &CFolderList::selectedRowClicked, this,
            [this](int, const QString& text) { playItem(text, true); });
    connect(m_sent, &CFolderList::selectedRowClicked, this,
            [this](int, const QString& text) { playItem(text, false); });
    connect(m_contacts, &CFolderList::itemChanged, this,
            [this] { m_timers.start(kTimerContactRepaint, kPeriodContactRepaintMs); });

    m_options = new QPushButton(QStringLiteral("Options"), this);
    m_options->setObjectName(QStringLiteral("options"));
    m_options->setGeometry(15, 351, 60, 24);
    m_options->setAutoDefault(false);
    connect(m_options, &QPushButton::clicked, this, &CMainDialog::showOptions);

    m_status = new StatusLine(this);
    m_status->setObjectName(QStringLiteral("status"));
    // Wide enough for a locked recording's hint; the text stays right-aligned.
    m_status->setGeometry(10, 253, 296, 18);

    m_indicator = new RecordIndicator(this);
    m_indicator->setObjectName(QStringLiteral("indicator"));
    m_indicator->move(10, 270);

    m_separator = new QFrame(this);
    m_separator->setFrameShape(QFrame::HLine);
    m_separator->setFrameShadow(QFrame::Sunken);
    m_separator->setGeometry(15, 344, 294, 2);

    m_address = new QLabel(QLatin1String(kServiceWebAddress), this);
    m_address->setObjectName(QStringLiteral("address"));
    m_address->setGeometry(87, 351, 218, 23);
    m_address->setFont(appFonts().bold14);
    QPalette addressPalette = m_address->palette();
    addressPalette.setColor(QPalette::WindowText, QColor(128, 128, 192));
    m_address->setPalette(addressPalette);

    m_ad = new CAd(this);
    m_ad->setObjectName(QStringLiteral("webPanel"));
    m_ad->setGeometry(4, 380, 320, 160);
    m_ad->show();
}

void CMainDialog::LayoutControls() {
    if (!m_inbox)
        return;
    const int w = width();
    const int h = height();
    // The tabs stand at the bottom of the tab control; the lists fill the
    // page above them.
    const QRect control(330, 7, w - 335, h - 10);
    // The tabs wrap into rows when the window is narrow.
    const int tabHeight = m_tabs->heightForWidth(control.width());
    m_tabs->setGeometry(control.left(), control.bottom() + 1 - tabHeight, control.width(),
                        tabHeight);
    m_tabPage->setGeometry(control.left(), control.top(), control.width(),
                           control.height() - tabHeight + 1);
    const QRect listRect(335, 12, w - 340, h - tabHeight - 20);
    for (CFolderList* list : folderLists())
        list->setGeometry(listRect);
    m_tabPage->lower();
    if (m_ad)
        m_ad->resize(320, std::max(0, h - 385));
}

void CMainDialog::placeWindow() {
    ClientCore* core = ClientCore::instance();
    const int x = core->GetProfileInt(settingsSection(), QLatin1String(kSettingX), 0);
    const int y = core->GetProfileInt(settingsSection(), QLatin1String(kSettingY), 0);
    const int x2 = core->GetProfileInt(settingsSection(), QLatin1String(kSettingX2), 0);
    const int y2 = core->GetProfileInt(settingsSection(), QLatin1String(kSettingY2), 0);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    if (x2 == x || y2 == y || x < 0 || x2 > area.width() || y < 0 || y2 > area.height()) {
        const QSize size = this->size();
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
        return;
    }
    // The saved rectangle is the window's inner area, which comes back the
    // same under any window manager.
    setGeometry(QRect(QPoint(x, y), QPoint(x2 - 1, y2 - 1)));
}

void CMainDialog::saveWindowRect() {
    ClientCore* core = ClientCore::instance();
    if (!core)
        return;
    const QRect r = geometry();
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingX), r.left());
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingY), r.top());
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingX2), r.left() + r.width());
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingY2), r.top() + r.height());
}

void CMainDialog::OnCancel() {
    if (workersStopped() && !m_ending) {
        m_ending = true;
        QDialog::reject();
    }
    m_flags.exitRequested = 1;
    if (!m_ending)
        m_timers.start(kTimerExitPoll, kPeriodExitPollMs);
}

void CMainDialog::closeEvent(QCloseEvent* event) {
    // The close box, like Esc, only asks to close; the window ends once the
    // worker has stopped.
    if (!m_ending) {
        event->ignore();
        OnCancel();
        return;
    }
    QDialog::closeEvent(event);
}

void CMainDialog::timerEvent(QTimerEvent* event) {
    switch (m_timers.idFor(event->timerId())) {
    case kTimerGrabFrame:
        grabFrame();
        return;
    case kTimerCountdown:
        countdownTick();
        return;
    case kTimerRecordingTick:
        recordingTick();
        return;
    case kTimerSignIn:
        m_timers.stop(kTimerSignIn);
        signIn();
        return;
    case kTimerClearCancelled:
        m_timers.stop(kTimerClearCancelled);
        setStatusText(QString());
        return;
    case kTimerExitPoll:
        if (workersStopped()) {
            m_timers.stop(kTimerExitPoll);
            OnCancel();
        }
        return;
    case kTimerContactRepaint:
        m_timers.stop(kTimerContactRepaint);
        repaintPreview();
        return;
    case kTimerTrayBlink:
        m_tray->modify(trayBlinkPhase == 1);
        trayBlinkPhase = 1 - trayBlinkPhase;
        return;
    default:
        QDialog::timerEvent(event);
    }
}

void CMainDialog::customEvent(QEvent* event) {
    const int type = static_cast<int>(event->type());
    switch (type) {
    case WM_TRAY_NOTIFY:
        onTrayNotify(static_cast<const PrivateEvent&>(*event));
        return;
    case WM_HIDE_MAIN:
        hide();
        return;
    case WM_NEW_MESSAGE:
        onNewMessage(static_cast<const PrivateEvent&>(*event));
        return;
    case WM_UPDATE_COUNTS:
        UpdateCounts(static_cast<int>(static_cast<const PrivateEvent&>(*event).lParam()));
        return;
    case WM_REFRESH_LIST:
        reloadList(static_cast<int>(static_cast<const PrivateEvent&>(*event).lParam()));
        return;
    default:
        QDialog::customEvent(event);
    }
}

void CMainDialog::onTrayNotify(const PrivateEvent& event) {
    if (event.lParam() != WM_LBUTTONUP)
        return;
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    if (event.wParam() == 1) {
        m_tabs->setCurrentIndex(0);
        ShowFolder();
    }
}

void CMainDialog::onNewMessage(const PrivateEvent& event) {
    ClientCore* core = ClientCore::instance();
    if (core->GetProfileInt(settingsSection(), QLatin1String(kSettingNotifyPopup), 1) == 0)
        return;
    CNotification::showFor(this, core->m_strFolder, event.text());
}

void CMainDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray &&
        m_tray->isVisibleInTray()) {
        // Minimising hides the window; the tray icon brings it back. Without
        // a tray nothing could, so the window then minimises as any other.
        QMetaObject::invokeMethod(
            this,
            [this] {
                setWindowState(windowState() & ~Qt::WindowMinimized);
                hide();
            },
            Qt::QueuedConnection);
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_ad) {
        m_ad->viewport()->repaint();
    }
}

void CMainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutControls();
}

void CMainDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (m_flags.playerShown.load() && m_group) {
        m_player->setGeometry(previewRect());
        m_player->repaint();
        m_player->setStretchToFit(true);
    }
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    // The window's own menu: the About item.
    QMenu menu(this);
    addCommand(menu, QStringLiteral("&About Clipnote..."), kCommandAbout);
    if (commandOf(execPopupMenu(menu, event->globalPos())) == kCommandAbout)
        showAbout();
}

void CMainDialog::showAbout() {
    CAboutBox about(this);
    about.exec();
}

void CMainDialog::showOptions() {
    COptionsSheet sheet(this);
    sheet.exec();
}

void CMainDialog::signIn() {
    CLogin login(this);
    if (login.exec() != QDialog::Accepted || !completeSignIn()) {
        m_flags.exitRequested = 1;
        m_flags.workerStopped = 1;
        QMetaObject::invokeMethod(this, &CMainDialog::OnCancel, Qt::QueuedConnection);
    }
}

bool CMainDialog::completeSignIn() {
    ClientCore* core = ClientCore::instance();
    if (!core->enterUserFolder())
        return false;
    // A second window on the same user folder would run a second worker on
    // its Outbox. The user most likely started the program twice, and the
    // first window is still there: this one says so and ends, as a
    // cancelled sign-in does, rather than asking to sign in again.
    QString message;
    if (core->claimUserFolder(&message) != ClientCore::FolderClaim::Taken) {
        showMessageBox(this, message, ClientCore::applicationTitle(), QMessageBox::Warning);
        return false;
    }
    setWindowTitle(QStringLiteral("Clipnote- %1").arg(core->m_strUserId));
    m_store = std::make_unique<MessageStore>(core->m_strFolder);
    for (CFolderList* list : folderLists())
        list->setStore(*m_store);
    m_contacts->setUserId(core->m_strUserId);
    m_inbox->Refill(0);
    SetupCapture();
    m_worker = std::make_unique<SendReceiveThread>(this, *m_store, core->m_strUserId,
                                                   transportFactory()());
    m_ad->Navigate(core->service().pageUrl(QStringLiteral("zeb/ad.asp")));
    UpdateCounts(-1);
    LayoutControls();
    return true;
}

void CMainDialog::askToSignInAgain() {
    if (m_askingToSignIn || m_ending || m_flags.exitRequested.load() || !m_worker ||
        !m_worker->isSignedOut())
        return;
    m_askingToSignIn = true;
    ClientCore* core = ClientCore::instance();
    CLogin login(this);
    login.signInAgainAs(core->m_strUserId);
    const bool signedIn = login.exec() == QDialog::Accepted;
    m_askingToSignIn = false;
    if (!signedIn || !m_worker || m_flags.exitRequested.load())
        return;
    setStatusText(QString());
    m_worker->resume();
}

void CMainDialog::setStatusText(const QString& text) {
    m_status->setStatus(text);
}

QString CMainDialog::statusText() const {
    return m_status->status();
}
