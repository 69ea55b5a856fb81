#pragma once

#include "serveroptions.h"

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class AccountStore;
class HttpListener;
class Routes;
class ArrivalChannel;
class Database;
class DataFolder;
class MailBox;
class Maintenance;
class RateLimiter;
class MessageQueue;
class PageGroup;
class PasswordHasher;
class SessionStore;
class SignInThrottle;

// The whole service: data folder, database, mail, the page groups and the
// HTTP listener. The program runs one; tests may run several in-process.
class ClipnoteServer {
public:
    explicit ClipnoteServer(ServerOptions options);
    ~ClipnoteServer();
    ClipnoteServer(const ClipnoteServer&) = delete;
    ClipnoteServer& operator=(const ClipnoteServer&) = delete;

    // Opens the data folder and database, creates the administrator account
    // on first start and binds the listening socket. Clients may connect as
    // soon as this returns true; false with a reason otherwise.
    bool start(std::string* error);
    // Serves until stop(). Returns at once if stop() came first.
    void run();
    // run() on a thread of its own; stop() ends it.
    void runInBackground();
    // From any thread, before, during or after run(); waits until run() has
    // returned.
    void stop();

    int port() const { return m_port; }
    // "http://ADDR:PORT/"
    std::string baseUrl() const;
    const std::filesystem::path& dataFolder() const;
    // The one line printed at start, naming the address and the data folder.
    std::string listeningLine() const;

    Database& database();
    AccountStore& accounts();
    SessionStore& sessions();
    MailBox& mail();
    MessageQueue& messages();

    static constexpr char kAdministrator[] = "administrator@ostrand.example";

private:
    bool createAdministrator(std::string* error);

    ServerOptions m_options;
    std::unique_ptr<DataFolder> m_folder;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<PasswordHasher> m_hasher;
    std::unique_ptr<AccountStore> m_accounts;
    std::unique_ptr<SessionStore> m_sessions;
    std::unique_ptr<MailBox> m_mail;
    std::unique_ptr<MessageQueue> m_messages;
    std::unique_ptr<SignInThrottle> m_throttle;
    std::unique_ptr<RateLimiter> m_accountRequestsPerAddress;
    std::unique_ptr<RateLimiter> m_accountRequestsPerClient;
    std::unique_ptr<Maintenance> m_maintenance;
    std::vector<std::unique_ptr<PageGroup>> m_pages;
    // After the pages: it speaks to their waiting room until it ends.
    std::unique_ptr<ArrivalChannel> m_arrivals;
    std::unique_ptr<Routes> m_routes;
    std::unique_ptr<HttpListener> m_http;
    int m_port = -1;

    std::mutex m_runMutex;
    std::condition_variable m_runChanged;
    bool m_stopRequested = false;
    bool m_running = false;
    std::thread m_thread;
};
