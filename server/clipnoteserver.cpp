#include "clipnoteserver.h"

#include "accountpages.h"
#include "accountstore.h"
#include "arrivalchannel.h"
#include "database.h"
#include "datafolder.h"
#include "httplistener.h"
#include "mailbox.h"
#include "maintenance.h"
#include "messagepages.h"
#include "messagequeue.h"
#include "passwordmail.h"
#include "passwords.h"
#include "ratelimiter.h"
#include "routes.h"
#include "schema.h"
#include "sessionstore.h"
#include "signinthrottle.h"
#include "waitingroom.h"
#include "welcomepage.h"

#include <fstream>
#include <iterator>

namespace {
// How often the waiting messages are looked over for expiry.
constexpr std::chrono::seconds kMaintenancePeriod(600);
} // namespace

ClipnoteServer::ClipnoteServer(ServerOptions options) : m_options(std::move(options)) {
    if (!m_options.clock)
        m_options.clock = makeRealClock();
}

ClipnoteServer::~ClipnoteServer() {
    stop();
}

namespace {
// A PEM file whole; a key file of a sane size, never a device that streams.
bool readWholeFile(const std::filesystem::path& path, std::string* text) {
    constexpr std::uintmax_t kLargestPem = 1024 * 1024;
    std::error_code failed;
    if (!std::filesystem::is_regular_file(path, failed) ||
        std::filesystem::file_size(path, failed) > kLargestPem || failed)
        return false;
    std::ifstream in(path, std::ios::binary);
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}
} // namespace

bool ClipnoteServer::start(std::string* error) {
    std::string reason;
    try {
        m_folder = std::make_unique<DataFolder>();
        if (!m_folder->open(m_options.dataFolder, &reason))
            throw std::runtime_error(reason);
        m_database =
            openDatabase(m_options.databaseUrl, m_folder->databaseFile(), serverMigrations(),
                         serverPostgresMigrations(), m_options.databaseConnections);
        m_hasher = std::make_unique<PasswordHasher>(m_options.hashStrength, m_options.hashing);
        m_accounts = std::make_unique<AccountStore>(*m_database, *m_hasher, m_options.clock);
        m_sessions = std::make_unique<SessionStore>(*m_database, m_options.clock);
        m_mail = std::make_unique<MailBox>(m_folder->mailFolder(), m_options.clock,
                                           m_options.mailKeptPerRecipient);
        // Several processes on one PostgreSQL database share what they
        // count; one process alone counts in memory.
        const bool shared = m_database->kind() == Database::Kind::Postgres;
        m_throttle = shared ? std::make_unique<SignInThrottle>(m_options.clock, m_options.throttle,
                                                               *m_database)
                            : std::make_unique<SignInThrottle>(m_options.clock, m_options.throttle);
        m_messages = std::make_unique<MessageQueue>(*m_database, m_folder->messageFolder(),
                                                    m_options.clock, m_options.queueLimits);
        if (!m_mail->prepare(&reason) || !m_messages->prepare(&reason) ||
            !createAdministrator(&reason))
            throw std::runtime_error(reason);
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return false;
    }

    m_maintenance =
        std::make_unique<Maintenance>(*m_messages, m_options.expireDays, kMaintenancePeriod);
    if (m_database->kind() == Database::Kind::Postgres) {
        m_accountRequestsPerAddress = std::make_unique<RateLimiter>(
            m_options.clock, m_options.accountLimitPerAddress, *m_database, "per-address");
        m_accountRequestsPerClient = std::make_unique<RateLimiter>(
            m_options.clock, m_options.accountLimitPerClient, *m_database, "per-client");
    } else {
        m_accountRequestsPerAddress =
            std::make_unique<RateLimiter>(m_options.clock, m_options.accountLimitPerAddress);
        m_accountRequestsPerClient =
            std::make_unique<RateLimiter>(m_options.clock, m_options.accountLimitPerClient);
    }
    m_pages.push_back(std::make_unique<AccountPages>(
        *m_accounts, *m_sessions, *m_mail, *m_throttle,
        AccountPages::RequestLimits{*m_accountRequestsPerAddress, *m_accountRequestsPerClient}));
    m_pages.push_back(std::make_unique<WelcomePage>());
    auto messagePages = std::make_unique<MessagePages>(*m_accounts, *m_sessions, *m_messages,
                                                       m_options.maxMessageBytes);
    if (m_database->kind() == Database::Kind::Postgres) {
        // A waiter on another server process hears of a message posted here,
        // and the other way round.
        WaitingRoom& room = messagePages->waitingRoom();
        m_arrivals = std::make_unique<ArrivalChannel>(
            m_options.databaseUrl, [&room](const std::string& key) { room.heard(key); });
        room.setAnnouncer([db = m_database.get()](const std::string& key) {
            ArrivalChannel::announce(*db, key);
        });
    }
    m_pages.push_back(std::move(messagePages));

    m_routes = std::make_unique<Routes>();
    for (const auto& group : m_pages)
        group->addRoutes(*m_routes);
    ListenerLimits limits;
    limits.maxConnections = m_options.maxConnections;
    limits.maxConnectionsPerAddress = m_options.maxConnectionsPerAddress;
    limits.headTimeout = m_options.headTimeout;
    limits.idleTimeout = m_options.idleTimeout;
    m_http = std::make_unique<HttpListener>(*m_routes, limits);
    if (!m_options.tlsCertificate.empty()) {
        std::string certificate;
        std::string key;
        if (!readWholeFile(m_options.tlsCertificate, &certificate) ||
            !readWholeFile(m_options.tlsKey, &key)) {
            if (error)
                *error = "cannot read the TLS certificate " + m_options.tlsCertificate.string() +
                         " or its key " + m_options.tlsKey.string();
            m_http.reset();
            return false;
        }
        m_http->setTls(std::move(certificate), std::move(key));
    }
    if (!m_http->start(m_options.listenAddress, m_options.port, &reason)) {
        if (error)
            *error = reason;
        m_http.reset();
        return false;
    }
    m_port = m_http->port();
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
    std::unique_lock guard(m_runMutex);
    if (!m_http)
        return;
    m_running = true;
    m_runChanged.wait(guard, [this] { return m_stopRequested; });
    m_running = false;
}

void ClipnoteServer::runInBackground() {
    m_thread = std::thread([this] { run(); });
}

void ClipnoteServer::stop() {
    {
        std::lock_guard guard(m_runMutex);
        m_stopRequested = true;
    }
    m_runChanged.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_http)
        m_http->stop();
}

std::string ClipnoteServer::baseUrl() const {
    const std::string& address = m_options.listenAddress;
    const bool bracket = address.find(':') != std::string::npos;
    const std::string scheme = m_options.tlsCertificate.empty() ? "http://" : "https://";
    return scheme + (bracket ? "[" + address + "]" : address) + ":" + std::to_string(m_port) + "/";
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
