#include "clipnoteserver.h"

#include "accountpages.h"
#include "accountstore.h"
#include "database.h"
#include "datafolder.h"
#include "mailbox.h"
#include "messagepages.h"
#include "messagequeue.h"
#include "passwordmail.h"
#include "passwords.h"
#include "reply.h"
#include "schema.h"
#include "sessionstore.h"
#include "signinthrottle.h"
#include "welcomepage.h"

#include <httplib.h>
#include <sys/socket.h>

namespace {
// The library's default lets a second server share a port that is in use;
// this one refuses, and only allows rebinding over connections that are
// still closing.
void listenerSocketOptions(int fd) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}
} // namespace

ClipnoteServer::ClipnoteServer(ServerOptions options) : m_options(std::move(options)) {
    if (!m_options.clock)
        m_options.clock = makeRealClock();
}

ClipnoteServer::~ClipnoteServer() {
    stop();
}

bool ClipnoteServer::start(std::string* error) {
    std::string reason;
    try {
        m_folder = std::make_unique<DataFolder>();
        if (!m_folder->open(m_options.dataFolder, &reason))
            throw std::runtime_error(reason);
        m_database = std::make_unique<Database>(m_folder->databaseFile(), serverMigrations());
        m_hasher = std::make_unique<PasswordHasher>(m_options.hashStrength);
        m_accounts = std::make_unique<AccountStore>(*m_database, *m_hasher, m_options.clock);
        m_sessions = std::make_unique<SessionStore>(*m_database, m_options.clock);
        m_mail = std::make_unique<MailBox>(m_folder->mailFolder(), m_options.clock);
        m_throttle = std::make_unique<SignInThrottle>(m_options.clock, m_options.throttle);
        m_messages =
            std::make_unique<MessageQueue>(*m_database, m_folder->messageFolder(), m_options.clock);
        if (!m_mail->prepare(&reason) || !m_messages->prepare(&reason) ||
            !createAdministrator(&reason))
            throw std::runtime_error(reason);
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }

    m_pages.push_back(
        std::make_unique<AccountPages>(*m_accounts, *m_sessions, *m_mail, *m_throttle));
    m_pages.push_back(std::make_unique<WelcomePage>());
    m_pages.push_back(std::make_unique<MessagePages>(*m_accounts, *m_sessions, *m_messages,
                                                     m_options.maxMessageBytes));

    m_http = std::make_unique<httplib::Server>();
    m_http->set_socket_options(listenerSocketOptions);
    installErrorReplies(*m_http);
    for (const auto& group : m_pages)
        group->addRoutes(*m_http);
    m_http->set_expect_100_continue_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            for (const auto& group : m_pages) {
                if (const int status = group->expectContinue(request, response); status != 100)
                    return status;
            }
            return 100;
        });

    const std::string& address = m_options.listenAddress;
    if (m_options.port == 0) {
        m_port = m_http->bind_to_any_port(address);
    } else if (m_http->bind_to_port(address, m_options.port)) {
        m_port = m_options.port;
    }
    if (m_port <= 0) {
        if (error)
            *error = "cannot listen on " + address + " port " + std::to_string(m_options.port) +
                     ": the address is not available or the port is in use";
        return false;
    }
    return true;
}

bool ClipnoteServer::createAdministrator(std::string* error) {
    if (m_accounts->find(kAdministrator))
        return true;
    const std::string password = generatePassword();
    if (!m_accounts->create(kAdministrator, password))
        return true;
    if (!m_mail->send(newAccountMail(kAdministrator, password), error)) {
        m_accounts->remove(kAdministrator);
        return false;
    }
    return true;
}

void ClipnoteServer::run() {
    {
        std::lock_guard guard(m_runMutex);
        if (m_stopRequested || !m_http || m_port <= 0)
            return;
        m_running = true;
    }
    m_http->listen_after_bind();
    {
        std::lock_guard guard(m_runMutex);
        m_running = false;
    }
    m_runChanged.notify_all();
}

void ClipnoteServer::runInBackground() {
    m_thread = std::thread([this] { run(); });
}

void ClipnoteServer::stop() {
    std::unique_lock guard(m_runMutex);
    m_stopRequested = true;
    // The listener ignores a stop that comes before it has started to
    // accept, so keep asking until run() is over.
    while (m_running) {
        m_http->stop();
        m_runChanged.wait_for(guard, std::chrono::milliseconds(20));
    }
    guard.unlock();
    if (m_thread.joinable())
        m_thread.join();
}

std::string ClipnoteServer::baseUrl() const {
    const std::string& address = m_options.listenAddress;
    const bool bracket = address.find(':') != std::string::npos;
    return "http://" + (bracket ? "[" + address + "]" : address) + ":" + std::to_string(m_port) +
           "/";
}

const std::filesystem::path& ClipnoteServer::dataFolder() const {
    return m_folder->root();
}

std::string ClipnoteServer::listeningLine() const {
    return "clipnote-server listening on " + baseUrl() + " data " + dataFolder().string();
}

Database& ClipnoteServer::database() {
    return *m_database;
}

AccountStore& ClipnoteServer::accounts() {
    return *m_accounts;
}

SessionStore& ClipnoteServer::sessions() {
    return *m_sessions;
}

MailBox& ClipnoteServer::mail() {
    return *m_mail;
}

MessageQueue& ClipnoteServer::messages() {
    return *m_messages;
}
