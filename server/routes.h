#pragma once

#include "httpmessage.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

// Takes the body of one request as it arrives.
class BodyReader {
public:
    virtual ~BodyReader() = default;
    // False stops reading: the connection is then closed without a reply.
    virtual bool receive(const char* data, std::size_t size) = 0;
    // After the whole body: sets the reply. May block (disk, database).
    virtual void finish(HttpResponse& response) = 0;
};

// What the listener serves: a handler per page path. Handlers run on the
// page threads and may block; they never see the connection itself.
class Routes {
public:
    // A page without a body: the handler sets the reply.
    using PageHandler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // A page with a body: given the head, the handler either returns the
    // reader of the body or sets the final reply and returns none, in which
    // case the body is never asked for (no "100 Continue").
    using BodyHandler =
        std::function<std::unique_ptr<BodyReader>(const HttpRequest&, HttpResponse&)>;

    void get(const std::string& path, PageHandler handler);
    void post(const std::string& path, BodyHandler handler);

    struct Route {
        PageHandler page;
        BodyHandler body;
    };
    // The route for a method and path; GET routes also answer HEAD.
    const Route* find(const std::string& method, const std::string& path) const;

private:
    std::map<std::string, Route> m_get;
    std::map<std::string, Route> m_post;
};
