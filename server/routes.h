#pragma once

#include "httpmessage.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

// Takes the body of one request as it arrives. receive() runs on an event
// thread and must not wait (buffered file writes are fine); what may wait
// goes into pageWork() and finish(), which run on a page thread.
class BodyReader {
public:
    static constexpr std::size_t kStop = static_cast<std::size_t>(-1);

    virtual ~BodyReader() = default;
    // Takes body bytes and returns how many it took: fewer than offered
    // only when it needs pageWork() before the rest; kStop closes the
    // connection without a reply.
    virtual std::size_t receive(const char* data, std::size_t size) = 0;
    // Whether pageWork() must run before more of the body is taken.
    virtual bool needsPageWork() const { return false; }
    virtual void pageWork() {}
    // After the whole body: sets the reply.
    virtual void finish(HttpResponse& response) = 0;
};

// The reply to a request that waits for something: the page keeps it and
// completes it later, from any thread. The connection waits aside meanwhile,
// costing no thread. Completing twice, or after the listener has stopped
// (which answers every reply still open), does nothing.
class DeferredReply {
public:
    virtual ~DeferredReply() = default;
    virtual void complete(HttpResponse response) = 0;
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

    // A page that may answer later: the handler gets the reply to complete.
    using DeferredHandler = std::function<void(const HttpRequest&, std::shared_ptr<DeferredReply>)>;

    void get(const std::string& path, PageHandler handler);
    void getDeferred(const std::string& path, DeferredHandler handler);
    void post(const std::string& path, BodyHandler handler);

    struct Route {
        PageHandler page;
        BodyHandler body;
        DeferredHandler deferred;
    };
    // The route for a method and path; GET routes also answer HEAD.
    const Route* find(const std::string& method, const std::string& path) const;

private:
    std::map<std::string, Route> m_get;
    std::map<std::string, Route> m_post;
};
