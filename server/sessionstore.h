#pragma once

#include "clock.h"
#include "database.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HttpRequest;

// Who is signed in with a request's session cookie. Pages that act for a
// user ask userOf(request) and refuse when it gives nothing.
struct SignedInUser {
    std::string key;    // the user ID in lower case
    std::string userId; // as registered
    std::string tokenHash;
};

// Sessions live in the database, so a restarted server still knows them;
// only a hash of each token is stored. A session ends after
// kIdleLifetime without use, or when its owner changes the password
// elsewhere.
class SessionStore {
public:
    SessionStore(Database& db, std::shared_ptr<Clock> clock);

    // Starts a session for an existing account and returns its token.
    std::string start(const std::string& key);
    // The Set-Cookie value that hands the token to the client.
    static std::string cookieFor(const std::string& token);

    std::optional<SignedInUser> userOf(const HttpRequest& request);
    std::optional<SignedInUser> userOfToken(std::string_view token);

    // Ends every session of the user except the given one.
    void endOthers(const SignedInUser& keep);

    // Every value of the named cookie in the request's Cookie headers.
    static std::vector<std::string> cookieValues(const HttpRequest& request, std::string_view name);

    static constexpr char kCookieName[] = "CLIPSESSION";
    static constexpr std::chrono::hours kIdleLifetime{24 * 30};

private:
    Database& m_db;
    std::shared_ptr<Clock> m_clock;
};
