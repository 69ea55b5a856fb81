#pragma once

#include "pagegroup.h"

#include <string>

class AccountStore;
class MailBox;
class SessionStore;
class SignInThrottle;

struct HttpRequest;
struct HttpResponse;

// The account pages under "/zeb/": sign in, create an account, mail a new
// password, change the password. Every outcome is a 200 reply whose text
// starts with "OK" on success and otherwise says why, in words meant for
// the user.
class AccountPages : public PageGroup {
public:
    AccountPages(AccountStore& accounts, SessionStore& sessions, MailBox& mail,
                 SignInThrottle& throttle);
    void addRoutes(Routes& routes) override;

    void signIn(const HttpRequest& request, HttpResponse& response);
    void registerAccount(const HttpRequest& request, HttpResponse& response);
    void mailPassword(const HttpRequest& request, HttpResponse& response);
    void changePassword(const HttpRequest& request, HttpResponse& response);

    // One wording for an unknown ID and a wrong password.
    static const char kSignInRefused[];

private:
    AccountStore& m_accounts;
    SessionStore& m_sessions;
    MailBox& m_mail;
    SignInThrottle& m_throttle;
};
