#pragma once

#include "pagegroup.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AccountStore;
class MessageQueue;
class SessionStore;
struct SignedInUser;

class AcknowledgementWatcher;
class UnsettledReplies;
class WaitingRoom;
class DeferredReply;
class BodyReader;
struct HttpRequest;
struct HttpResponse;

// The message pages under "/zeb/": "post.asp" takes a message file with its
// 1024-byte header and queues it for its recipient; "download.asp?id=" hands
// the signed-in user the oldest file waiting for them as a record (name
// field, date field, the file).
//
// A client that sends "received" (empty at first, then the name field of the
// record it filed last) confirms what it has filed: the message of that name
// is retired, and the reply is the oldest one still waiting, the same one
// again when it was not confirmed. A request without "received" comes from
// an older client: its message is retired once the client's machine has
// acknowledged the reply's last byte.
//
// An upload is answered "OK" only when the file and its queue entry are on
// disk for good; a refusal is a text beginning with "INVALID" that says why,
// which the client shows. A download without a message, or that the caller
// may not ask for, is answered "ERROR".
class MessagePages : public PageGroup {
public:
    MessagePages(AccountStore& accounts, SessionStore& sessions, MessageQueue& queue,
                 std::uint64_t maxMessageBytes);
    ~MessagePages() override;
    void addRoutes(Routes& routes) override;

    // The reader of an upload's body, or none with the refusal already in
    // the response (nobody signed in, a body larger than any message).
    std::unique_ptr<BodyReader> post(const HttpRequest& request, HttpResponse& response);
    void download(const HttpRequest& request, HttpResponse& response);
    // "wait.asp?id=USER[&timeout=S]": answers "OK" as soon as a message
    // waits for the signed-in user, or "ERROR: No message is waiting." after
    // S seconds (at most and by default kLongestWait).
    void wait(const HttpRequest& request, std::shared_ptr<DeferredReply> reply);

    static constexpr int kLongestWaitSeconds = 25;

    // The recipients waiting on "wait.asp" in this process.
    WaitingRoom& waitingRoom() { return *m_waitingRoom; }

    // Bytes of a record before the file: the name and the date field.
    static constexpr std::size_t kRecordNameBytes = 255;
    static constexpr std::size_t kRecordDateBytes = 32;

private:
    // The refusal of an upload that can be judged before its body: nobody
    // signed in, or a declared body larger than any message may be.
    std::optional<std::string> refusalBeforeBody(const HttpRequest& request,
                                                 std::optional<SignedInUser>& user);
    std::uint64_t largestBody() const;

    AccountStore& m_accounts;
    SessionStore& m_sessions;
    MessageQueue& m_queue;
    std::uint64_t m_maxMessageBytes;
    // Before the watcher, which settles replies as it ends.
    std::unique_ptr<UnsettledReplies> m_unsettled;
    std::unique_ptr<WaitingRoom> m_waitingRoom;
    std::unique_ptr<AcknowledgementWatcher> m_acknowledgements;
};
