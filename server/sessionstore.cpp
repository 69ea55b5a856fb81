#include "sessionstore.h"

#include "httpmessage.h"
#include <sodium.h>

namespace {
constexpr std::size_t kTokenBytes = 32;
// Tokens are 64 hex digits; anything much longer is not one of ours.
constexpr std::size_t kLongestToken = 128;
// last_used is written at most this often, not on every request.
constexpr std::int64_t kTouchEverySeconds = 3600;

std::string toHex(const unsigned char* bytes, std::size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

std::string hashToken(std::string_view token) {
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), nullptr, 0);
    return toHex(digest, sizeof digest);
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::int64_t idleSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(SessionStore::kIdleLifetime).count();
}
} // namespace

SessionStore::SessionStore(Database& db, std::shared_ptr<Clock> clock)
    : m_db(db), m_clock(std::move(clock)) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

std::string SessionStore::start(const std::string& key) {
    unsigned char random[kTokenBytes];
    randombytes_buf(random, sizeof random);
    const std::string token = toHex(random, sizeof random);
    const std::int64_t now = m_clock->unixNow();
    auto guard = m_db.lock();
    Statement(m_db, "DELETE FROM sessions WHERE last_used < ?").bind(1, now - idleSeconds()).run();
    Statement(m_db, "INSERT INTO sessions (token_hash, uid_key, created_at, last_used) "
                    "VALUES (?, ?, ?, ?)")
        .bind(1, hashToken(token))
        .bind(2, key)
        .bind(3, now)
        .bind(4, now)
        .run();
    return token;
}

std::string SessionStore::cookieFor(const std::string& token) {
    return std::string(kCookieName) + "=" + token + "; Path=/; HttpOnly";
}

std::optional<SignedInUser> SessionStore::userOf(const HttpRequest& request) {
    // A client may still carry an ended session beside its current one.
    for (const std::string& token : cookieValues(request, kCookieName)) {
        if (auto user = userOfToken(token))
            return user;
    }
    return std::nullopt;
}

std::optional<SignedInUser> SessionStore::userOfToken(std::string_view token) {
    if (token.empty() || token.size() > kLongestToken)
        return std::nullopt;
    const std::string tokenHash = hashToken(token);
    const std::int64_t now = m_clock->unixNow();
    auto guard = m_db.lock();
    Statement query(m_db, "SELECT s.uid_key, a.uid, s.last_used FROM sessions s "
                          "JOIN accounts a ON a.uid_key = s.uid_key WHERE s.token_hash = ?");
    query.bind(1, tokenHash);
    if (!query.step())
        return std::nullopt;
    SignedInUser user{query.text(0), query.text(1), tokenHash};
    const std::int64_t lastUsed = query.integer(2);
    if (lastUsed < now - idleSeconds()) {
        Statement(m_db, "DELETE FROM sessions WHERE token_hash = ?").bind(1, tokenHash).run();
        return std::nullopt;
    }
    if (lastUsed < now - kTouchEverySeconds)
        Statement(m_db, "UPDATE sessions SET last_used = ? WHERE token_hash = ?")
            .bind(1, now)
            .bind(2, tokenHash)
            .run();
    return user;
}

void SessionStore::endOthers(const SignedInUser& keep) {
    auto guard = m_db.lock();
    Statement(m_db, "DELETE FROM sessions WHERE uid_key = ? AND token_hash <> ?")
        .bind(1, keep.key)
        .bind(2, keep.tokenHash)
        .run();
}

std::vector<std::string> SessionStore::cookieValues(const HttpRequest& request,
                                                    std::string_view name) {
    std::vector<std::string> values;
    for (const std::string& header : request.headerValues("Cookie")) {
        std::string_view rest = header;
        while (!rest.empty()) {
            const size_t end = rest.find(';');
            const std::string_view pair = trimBlanks(rest.substr(0, end));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            const size_t equals = pair.find('=');
            if (equals != std::string_view::npos && trimBlanks(pair.substr(0, equals)) == name) {
                std::string_view value = trimBlanks(pair.substr(equals + 1));
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                    value = value.substr(1, value.size() - 2);
                values.emplace_back(value);
            }
        }
    }
    return values;
}
