#pragma once

#include "pagegroup.h"

#include <chrono>
#include <string>

#include <string>

class AccountStore;
class MailBox;
class RateLimiter;
class SessionStore;
class SignInThrottle;

struct HttpRequest;
struct HttpResponse;

// The account pages under "/zeb/": sign in, create an account, mail a new
// password, change the password. Every outcome is a 200 reply whose text
// starts with "OK" on success and otherwise says why, in words meant for
// the user.
//
// Creating an account and mailing a password cost a password hash and a
// mail file and need no sign-in, so both are limited per e-mail address and
// per client address. Password hashing is bounded too: when too many wait
// for it, a page answers that the service is busy.
class AccountPages : public PageGroup {
public:
    struct RequestLimits {
        RateLimiter& perAddress;
        RateLimiter& perClient;
    };

    AccountPages(AccountStore& accounts, SessionStore& sessions, MailBox& mail,
                 SignInThrottle& throttle, RequestLimits limits);
    void addRoutes(Routes& routes) override;

    void signIn(const HttpRequest& request, HttpResponse& response);
    void registerAccount(const HttpRequest& request, HttpResponse& response);
    void mailPassword(const HttpRequest& request, HttpResponse& response);
    void changePassword(const HttpRequest& request, HttpResponse& response);
    // The busy answer of any account page.
    static const char kBusy[];

    // One wording for an unknown ID and a wrong password.
    static const char kSignInRefused[];

private:
    // Zero when a request for a new account or password may go ahead.
    std::chrono::seconds admitAccountRequest(const HttpRequest& request, const std::string& userId);

    AccountStore& m_accounts;
    SessionStore& m_sessions;
    MailBox& m_mail;
    SignInThrottle& m_throttle;
    RequestLimits m_limits;
};
