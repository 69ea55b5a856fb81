#pragma once

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// One area of the service's pages (accounts, the welcome page, messages).
// Each registers its own routes, so a new area is one more group.
class PageGroup {
public:
    virtual ~PageGroup() = default;
    virtual void addRoutes(httplib::Server& http) = 0;
    // A request that announced its body with "Expect: 100-continue": 100
    // lets the body come; any other status is the final reply, set in
    // response, and the body is never sent.
    virtual int expectContinue(const httplib::Request&, httplib::Response&) { return 100; }
};
