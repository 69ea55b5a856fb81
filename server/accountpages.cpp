#include "accountpages.h"

#include "accountstore.h"
#include "mailbox.h"
#include "passwordmail.h"
#include "passwords.h"
#include "ratelimiter.h"
#include "reply.h"
#include "serverlog.h"
#include "sessionstore.h"
#include "signinthrottle.h"
#include "userid.h"

#include "routes.h"

const char AccountPages::kSignInRefused[] = "Unknown user ID or wrong password.";
const char AccountPages::kBusy[] =
    "The service is busy right now. Please try again in a few seconds.";

namespace {
const std::string kBadAddress =
    "That is not an e-mail address this service accepts. Use letters, digits and . _ - + before "
    "the @, a host name such as example.org after it, and at most " +
    std::to_string(kMaxUserIdLength) + " characters in all.";
constexpr char kTaken[] = "This e-mail address is already registered. If you forgot the "
                          "password, have a new one e-mailed to you.";
constexpr char kNotRegistered[] = "No account is registered under this e-mail address.";
constexpr char kMailFailed[] =
    "Sorry, the e-mail with your password could not be sent. Please try again later.";
constexpr char kNotSignedIn[] = "You are not signed in. Please sign in again.";
constexpr char kOtherUser[] =
    "You can only change the password of the user ID you are signed in with.";
const std::string kBadNewPassword = "The new password must be 1 to " +
                                    std::to_string(kMaxPasswordLength) +
                                    " characters long and may not contain control characters.";

std::string tooManyRequestsText(std::chrono::seconds wait) {
    const auto seconds = wait.count();
    return "Too many requests for new accounts or passwords. Please try again in " +
           std::to_string(seconds) + (seconds == 1 ? " second." : " seconds.");
}

std::string tryAgainText(std::chrono::seconds wait) {
    const auto seconds = wait.count();
    return "Too many failed sign-ins for this user ID. Please try again in " +
           std::to_string(seconds) + (seconds == 1 ? " second." : " seconds.");
}
} // namespace

AccountPages::AccountPages(AccountStore& accounts, SessionStore& sessions, MailBox& mail,
                           SignInThrottle& throttle, RequestLimits limits)
    : m_accounts(accounts), m_sessions(sessions), m_mail(mail), m_throttle(throttle),
      m_limits(limits) {}

void AccountPages::addRoutes(Routes& routes) {
    using Request = HttpRequest;
    using Response = HttpResponse;
    // Each page may wait for a password hash; when too many wait already,
    // the user is told to try again rather than kept waiting.
    const auto page = [this](void (AccountPages::*handler)(const Request&, Response&)) {
        return [this, handler](const Request& q, Response& r) {
            try {
                (this->*handler)(q, r);
            } catch (const PasswordHashingBusy&) {
                replyText(r, kBusy);
            }
        };
    };
    routes.get("/zeb/login.asp", page(&AccountPages::signIn));
    routes.get("/zeb/reg.asp", page(&AccountPages::registerAccount));
    routes.get("/zeb/pwmail.asp", page(&AccountPages::mailPassword));
    routes.get("/zeb/chgpw.asp", page(&AccountPages::changePassword));
}

void AccountPages::signIn(const HttpRequest& request, HttpResponse& response) {
    const std::string userId = request.param("UID");
    const std::string password = request.param("PW");
    if (!isValidUserId(userId))
        return replyText(response, kSignInRefused);
    const std::string key = userIdKey(userId);
    if (const auto wait = m_throttle.admit(key); wait.count() > 0)
        return replyText(response, tryAgainText(wait));
    if (password.size() > kMaxPasswordLength)
        return replyText(response, kSignInRefused);
    const auto account = m_accounts.signIn(userId, password);
    if (!account)
        return replyText(response, kSignInRefused);
    m_throttle.succeeded(key);
    response.setHeader("Set-Cookie", SessionStore::cookieFor(m_sessions.start(account->key)));
    replyText(response, "OK");
}

void AccountPages::registerAccount(const HttpRequest& request, HttpResponse& response) {
    const std::string userId = request.param("UID");
    if (!isValidUserId(userId))
        return replyText(response, kBadAddress);
    if (const auto wait = admitAccountRequest(request, userId); wait.count() > 0)
        return replyText(response, tooManyRequestsText(wait));
    // Checked first so that a taken address costs no password hash.
    if (m_accounts.find(userId))
        return replyText(response, kTaken);
    const std::string password = generatePassword();
    if (!m_accounts.create(userId, password))
        return replyText(response, kTaken);
    std::string error;
    if (!m_mail.send(newAccountMail(userId, password), &error)) {
        // Nobody could ever learn this password: the address stays free.
        m_accounts.remove(userId);
        logServerProblem(error);
        return replyText(response, kMailFailed);
    }
    replyText(response, "OK");
}

void AccountPages::mailPassword(const HttpRequest& request, HttpResponse& response) {
    const std::string userId = request.param("UID");
    const auto account = isValidUserId(userId) ? m_accounts.find(userId) : std::nullopt;
    if (!account)
        return replyText(response, kNotRegistered);
    if (const auto wait = admitAccountRequest(request, account->key); wait.count() > 0)
        return replyText(response, tooManyRequestsText(wait));
    const std::string password = generatePassword();
    if (!m_accounts.setMailedPassword(account->key, password))
        return replyText(response, kNotRegistered);
    std::string error;
    const int validHours = static_cast<int>(AccountStore::kMailedPasswordLifetime.count());
    if (!m_mail.send(passwordResetMail(account->userId, password, validHours), &error)) {
        // The unsent password is harmless: the old one still works.
        logServerProblem(error);
        return replyText(response, kMailFailed);
    }
    replyText(response, "OK, a new password has been e-mailed to " + account->userId + ".");
}

std::chrono::seconds AccountPages::admitAccountRequest(const HttpRequest& request,
                                                       const std::string& userId) {
    // The client address first: a refusal there costs the e-mail address's
    // allowance nothing.
    if (const auto wait = m_limits.perClient.admit(request.remoteAddress); wait.count() > 0)
        return wait;
    return m_limits.perAddress.admit(userIdKey(userId));
}

void AccountPages::changePassword(const HttpRequest& request, HttpResponse& response) {
    const auto user = m_sessions.userOf(request);
    if (!user)
        return replyText(response, kNotSignedIn);
    if (userIdKey(request.param("UID")) != user->key)
        return replyText(response, kOtherUser);
    const std::string password = request.param("PW");
    if (!isAcceptablePassword(password))
        return replyText(response, kBadNewPassword);
    if (!m_accounts.setPassword(user->key, password))
        return replyText(response, kNotSignedIn);
    // Whoever knew the old password is signed out everywhere else.
    m_sessions.endOthers(*user);
    replyText(response, "OK");
}
