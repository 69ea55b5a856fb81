#include "messagepages.h"

#include "accountstore.h"
#include "arrivaldate.h"
#include "messagequeue.h"
#include "peeracknowledgement.h"
#include "reply.h"
#include "routes.h"
#include "serverlog.h"
#include "sessionstore.h"
#include "uploadheader.h"
#include "userid.h"
#include "waitingroom.h"

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr char kNotSignedIn[] = "INVALID: You are not signed in. Please sign in again.";
constexpr char kOtherSender[] =
    "INVALID: You can only send messages as the user ID you are signed in with.";
constexpr char kBadRecipient[] = "INVALID: The recipient is not a registered user ID.";
constexpr char kShortHeader[] =
    "INVALID: The upload ended before its 1024-byte header was complete.";
constexpr char kMalformedHeader[] = "INVALID: The upload header is malformed.";
constexpr char kBadName[] =
    "INVALID: The message name must be recipient;sender;number in printable characters.";
constexpr char kNoData[] = "INVALID: The upload holds no message.";
constexpr char kNotStored[] =
    "The service could not store the message. It will be sent again later.";

constexpr char kErrorNotSignedIn[] = "ERROR: You are not signed in.";
constexpr char kErrorOtherUser[] = "ERROR: You can only fetch the messages of your own user ID.";
constexpr char kErrorNothing[] = "ERROR: No message is waiting.";

// A refused body this small is read and dropped, so that the client, still
// sending it, gets to read the refusal; a larger one is not waited for.
constexpr std::uint64_t kDrainLimit = 1024 * 1024;
// The file goes out in pieces of this size.
constexpr std::size_t kSendPiece = 64 * 1024;
// How long a reply to a client that does not confirm may wait for the
// acknowledgement of its last bytes before the message is kept for later.
constexpr std::chrono::seconds kAcknowledgementTimeout(30);
// The query value of a client that confirms what it has filed.
constexpr char kReceivedParameter[] = "received";

std::string tooLargeText(std::uint64_t maxMessageBytes) {
    return "INVALID: The message is too large: at most " +
           std::to_string(maxMessageBytes / (1024 * 1024)) + " MiB can be sent.";
}

std::string queueFullText(const std::string& recipient) {
    return "INVALID: The queue of " + recipient +
           " is full: too many messages are waiting for that user. Please send it again later.";
}

std::string unknownRecipientText(const std::string& recipient) {
    return "INVALID: " + recipient + " is not a registered user ID.";
}

std::optional<std::uint64_t> declaredLength(const HttpRequest& request) {
    return request.contentLength();
}

// The name must be recipient;sender;rest with the recipient and sender of the
// header: the recipient's client shows the sender named there and files the
// message under it.
bool nameFitsHeader(const UploadHeader& header) {
    if (!isRelayableMessageName(header.name))
        return false;
    const std::size_t first = header.name.find(';');
    const std::size_t second =
        first == std::string::npos ? std::string::npos : header.name.find(';', first + 1);
    if (second == std::string::npos || second + 1 >= header.name.size() ||
        header.name.find(';', second + 1) != std::string::npos)
        return false;
    return userIdKey(header.name.substr(0, first)) == userIdKey(header.recipient) &&
           userIdKey(header.name.substr(first + 1, second - first - 1)) == userIdKey(header.sender);
}

// The body of one upload as it arrives: the header block first, then the
// file, written straight to disk.
class UploadReceiver : public BodyReader {
public:
    // `announcedFileBytes`: what the declared length leaves for the file,
    // 0 when no length was declared.
    UploadReceiver(AccountStore& accounts, MessageQueue& queue, WaitingRoom& waitingRoom,
                   SignedInUser user, std::uint64_t maxFileBytes, std::string tooLargeText,
                   std::uint64_t announcedFileBytes)
        : m_accounts(accounts), m_queue(queue), m_waitingRoom(waitingRoom), m_user(user),
          m_maxFileBytes(maxFileBytes), m_tooLargeText(std::move(tooLargeText)),
          m_announcedFileBytes(announcedFileBytes) {}

    std::size_t receive(const char* data, std::size_t size) override {
        if (m_header.size() < kUploadHeaderBytes) {
            const std::size_t take = std::min(size, kUploadHeaderBytes - m_header.size());
            m_header.append(data, take);
            // The header is judged on a page thread (it asks the database)
            // before any of the file is taken.
            m_judging = m_header.size() == kUploadHeaderBytes;
            return take;
        }
        m_fileBytes += size;
        if (m_fileBytes > m_maxFileBytes) {
            m_refusal = m_tooLargeText;
            m_file.reset();
            // A little more is read and dropped, so that the client, still
            // sending, gets to read the refusal; then the connection goes.
            return m_fileBytes <= m_maxFileBytes + kDrainLimit ? size : kStop;
        }
        if (m_file && size > 0 && !m_file->write(data, size)) {
            m_storeFailed = true;
            m_file.reset();
        }
        return size;
    }

    bool needsPageWork() const override { return m_judging || (m_file && m_file->wantsFlush()); }
    void pageWork() override {
        if (m_judging) {
            m_judging = false;
            judgeHeader();
        }
        // Bytes that go to the database are stored here, off the event thread.
        if (m_file && m_file->wantsFlush() && !m_file->flushFull()) {
            m_storeFailed = true;
            m_file.reset();
        }
    }

    void finish(HttpResponse& response) override {
        replyText(response, outcome());
        // A file not queued is gone before the reply goes out.
        m_file.reset();
    }

private:
    // The text of the reply once the body has been read.
    std::string outcome() {
        if (!m_refusal.empty())
            return m_refusal;
        if (m_header.size() < kUploadHeaderBytes)
            return kShortHeader;
        if (m_fileBytes == 0)
            return kNoData;
        if (m_storeFailed || !m_file)
            return kNotStored;
        std::string error;
        EnqueueRefusal refusal = EnqueueRefusal::StorageFailed;
        if (!m_queue.enqueue(std::move(m_file), userIdKey(m_parsed.recipient), m_user.key,
                             m_parsed.name, &error, &refusal)) {
            if (refusal == EnqueueRefusal::QueueFull)
                return queueFullText(m_parsed.recipient);
            logServerProblem("an upload could not be stored: " + error);
            return kNotStored;
        }
        m_waitingRoom.arrived(userIdKey(m_parsed.recipient));
        return "OK";
    }

    void judgeHeader() {
        UploadHeaderFault fault = UploadHeaderFault::None;
        const auto header = parseUploadHeader(m_header, &fault);
        if (!header) {
            m_refusal = fault == UploadHeaderFault::Short ? kShortHeader : kMalformedHeader;
            return;
        }
        m_parsed = *header;
        if (userIdKey(header->sender) != m_user.key) {
            m_refusal = kOtherSender;
            return;
        }
        if (!isValidUserId(header->recipient)) {
            m_refusal = kBadRecipient;
            return;
        }
        if (!m_accounts.find(header->recipient)) {
            m_refusal = unknownRecipientText(header->recipient);
            return;
        }
        if (!nameFitsHeader(*header)) {
            m_refusal = kBadName;
            return;
        }
        // Judged before the file is taken, so a full queue costs no disk.
        if (!m_queue.hasRoomFor(userIdKey(header->recipient), header->name, m_announcedFileBytes)) {
            m_refusal = queueFullText(header->recipient);
            return;
        }
        std::string error;
        m_file = m_queue.receive(&error);
        if (!m_file) {
            logServerProblem("an upload could not be stored: " + error);
            m_storeFailed = true;
        }
    }

    AccountStore& m_accounts;
    MessageQueue& m_queue;
    WaitingRoom& m_waitingRoom;
    SignedInUser m_user;
    std::uint64_t m_maxFileBytes;
    std::string m_tooLargeText;
    std::uint64_t m_announcedFileBytes;
    bool m_judging = false;
    std::string m_header;
    UploadHeader m_parsed;
    std::string m_refusal;
    std::unique_ptr<IncomingBody> m_file;
    std::uint64_t m_fileBytes = 0;
    bool m_storeFailed = false;
};

} // namespace

// The replies to clients that do not confirm which are not yet settled, that
// is neither retired nor released, per recipient. Such a client asks again
// as soon as it has read a reply, so its next request waits until the last
// one is settled: otherwise it could get the same message once more.
class UnsettledReplies {
public:
    void add(const std::string& key) {
        std::lock_guard lock(m_mutex);
        ++m_count[key];
    }
    void settle(const std::string& key) {
        {
            std::lock_guard lock(m_mutex);
            if (--m_count[key] <= 0)
                m_count.erase(key);
        }
        m_settled.notify_all();
    }
    void waitFor(const std::string& key, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        m_settled.wait_for(lock, timeout, [&] { return m_count.find(key) == m_count.end(); });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_settled;
    std::map<std::string, int> m_count;
};

namespace {
// One record on its way out: the fields, then the file from an open
// descriptor, so a retirement elsewhere cannot pull it away midway.
//
// A client that confirms what it has filed retires a message by naming it in
// a later request, so its replies retire nothing. For an older client the
// reply itself is the only sign: the message is retired once the client's
// machine has acknowledged the last byte, which a client that dies or loses
// its link midway never does.
struct Delivery {
    MessageQueue* queue = nullptr;
    AcknowledgementWatcher* acknowledgements = nullptr;
    UnsettledReplies* unsettled = nullptr;
    std::string recipientKey;
    WaitingMessage message;
    std::string fields;
    std::unique_ptr<StoredBodyReader> body;
    bool claimed = false;
    // A duplicate of the connection's socket, kept while the reply goes out
    // and then watched until the peer has acknowledged everything.
    int socket = -1;

    ~Delivery() {
        if (socket >= 0)
            ::close(socket);
    }

    std::int64_t read(std::uint64_t offset, char* buffer, std::size_t max) const {
        if (offset < fields.size()) {
            const std::size_t n = std::min<std::size_t>(max, fields.size() - offset);
            std::memcpy(buffer, fields.data() + offset, n);
            return static_cast<std::int64_t>(n);
        }
        const std::int64_t n =
            body->read(offset - fields.size(), buffer, std::min(max, kSendPiece));
        // A file shorter than its entry says ends the reply early: the
        // client sees a cut record and the message stays waiting.
        return n > 0 ? n : -1;
    }

    // A claimed message is settled exactly once, after the reply ended.
    void finished(bool complete) {
        if (!claimed)
            return;
        if (!complete || socket < 0) {
            queue->release(message);
            unsettled->settle(recipientKey);
            return;
        }
        const int watched = std::exchange(socket, -1);
        acknowledgements->watch(
            watched, kAcknowledgementTimeout,
            [q = queue, m = message, u = unsettled, key = recipientKey](bool acknowledged) {
                try {
                    if (acknowledged)
                        q->retire(m);
                    else
                        logServerProblem("a reply to an older client was not acknowledged; " +
                                         m.file + " stays waiting");
                } catch (const DatabaseError& e) {
                    logServerProblem("a delivered message could not be retired: " +
                                     std::string(e.what()));
                }
                q->release(m);
                u->settle(key);
            });
    }
};

// A refused upload's body, read and dropped so that the client, still
// sending it, gets to read the refusal.
class DiscardedBody : public BodyReader {
public:
    explicit DiscardedBody(std::string refusal) : m_refusal(std::move(refusal)) {}
    std::size_t receive(const char*, std::size_t size) override { return size; }
    void finish(HttpResponse& response) override { replyText(response, m_refusal); }

private:
    std::string m_refusal;
};

std::string recordFields(const WaitingMessage& message) {
    std::string fields(MessagePages::kRecordNameBytes + MessagePages::kRecordDateBytes, '\0');
    message.name.copy(fields.data(),
                      std::min(message.name.size(), MessagePages::kRecordNameBytes - 1));
    const std::string date = arrivalDateText(message.arrivedAt);
    date.copy(fields.data() + MessagePages::kRecordNameBytes,
              std::min(date.size(), MessagePages::kRecordDateBytes - 1));
    return fields;
}

void refuse(HttpResponse& response, const std::string& text) {
    replyText(response, text);
}
} // namespace

MessagePages::MessagePages(AccountStore& accounts, SessionStore& sessions, MessageQueue& queue,
                           std::uint64_t maxMessageBytes)
    : m_accounts(accounts), m_sessions(sessions), m_queue(queue),
      m_maxMessageBytes(maxMessageBytes), m_unsettled(std::make_unique<UnsettledReplies>()),
      m_waitingRoom(std::make_unique<WaitingRoom>()),
      m_acknowledgements(std::make_unique<AcknowledgementWatcher>()) {}

MessagePages::~MessagePages() = default;

void MessagePages::addRoutes(Routes& routes) {
    routes.post("/zeb/post.asp",
                [this](const HttpRequest& q, HttpResponse& r) { return post(q, r); });
    routes.get("/zeb/download.asp",
               [this](const HttpRequest& q, HttpResponse& r) { download(q, r); });
    routes.getDeferred(
        "/zeb/wait.asp",
        [this](const HttpRequest& q, std::shared_ptr<DeferredReply> r) { wait(q, std::move(r)); });
}

std::uint64_t MessagePages::largestBody() const {
    // The header block, the file and its padding to a whole block.
    return kUploadHeaderBytes + m_maxMessageBytes + kUploadHeaderBytes;
}

std::optional<std::string> MessagePages::refusalBeforeBody(const HttpRequest& request,
                                                           std::optional<SignedInUser>& user) {
    user = m_sessions.userOf(request);
    if (!user)
        return std::string(kNotSignedIn);
    if (const auto length = declaredLength(request); length && *length > largestBody())
        return tooLargeText(m_maxMessageBytes);
    return std::nullopt;
}

std::unique_ptr<BodyReader> MessagePages::post(const HttpRequest& request, HttpResponse& response) {
    std::optional<SignedInUser> user;
    if (const auto refusal = refusalBeforeBody(request, user)) {
        const auto length = declaredLength(request);
        if (length && *length <= kDrainLimit)
            return std::make_unique<DiscardedBody>(*refusal);
        // Answered before the body: a client that asked first never sends
        // it, and the connection closes on one that did not ask.
        refuse(response, *refusal);
        response.closeConnection = true;
        return nullptr;
    }
    const std::uint64_t announced = declaredLength(request).value_or(0);
    return std::make_unique<UploadReceiver>(
        m_accounts, m_queue, *m_waitingRoom, *user, largestBody() - kUploadHeaderBytes,
        tooLargeText(m_maxMessageBytes),
        announced > kUploadHeaderBytes ? announced - kUploadHeaderBytes : 0);
}

void MessagePages::download(const HttpRequest& request, HttpResponse& response) {
    const auto user = m_sessions.userOf(request);
    if (!user)
        return refuse(response, kErrorNotSignedIn);
    if (userIdKey(request.param("id")) != user->key)
        return refuse(response, kErrorOtherUser);
    const bool confirming = request.hasParam(kReceivedParameter);
    if (confirming) {
        const std::string filed = request.param(kReceivedParameter);
        if (!filed.empty())
            m_queue.confirm(user->key, filed);
    }
    m_unsettled->waitFor(user->key, kAcknowledgementTimeout + std::chrono::seconds(1));
    auto delivery = std::make_shared<Delivery>();
    delivery->queue = &m_queue;
    delivery->acknowledgements = m_acknowledgements.get();
    delivery->unsettled = m_unsettled.get();
    delivery->recipientKey = user->key;
    while (true) {
        // A confirming client gets the oldest message until it confirms it,
        // even while an earlier reply to it may still be under way.
        auto message = confirming ? m_queue.oldest(user->key) : m_queue.claimOldest(user->key);
        if (!message)
            return refuse(response, kErrorNothing);
        std::unique_ptr<StoredBodyReader> body = m_queue.openBody(*message);
        if (!body) {
            logServerProblem("a waiting message has lost its file: " + message->file);
            if (!confirming)
                m_queue.release(*message);
            m_queue.dropBroken(*message);
            continue;
        }
        delivery->message = *message;
        delivery->body = std::move(body);
        delivery->claimed = !confirming;
        if (delivery->claimed)
            m_unsettled->add(user->key);
        break;
    }
    if (delivery->claimed && request.socket >= 0)
        delivery->socket = ::fcntl(request.socket, F_DUPFD_CLOEXEC, 0);
    delivery->fields = recordFields(delivery->message);
    response.status = 200;
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("Content-Type", "application/octet-stream");
    auto stream = std::make_shared<HttpStream>();
    stream->size = delivery->fields.size() + static_cast<std::uint64_t>(delivery->message.size);
    stream->read = [delivery](std::uint64_t offset, char* buffer, std::size_t max) {
        return delivery->read(offset, buffer, max);
    };
    stream->done = [delivery](bool complete) { delivery->finished(complete); };
    response.stream = std::move(stream);
}

void MessagePages::wait(const HttpRequest& request, std::shared_ptr<DeferredReply> reply) {
    const auto answer = [&reply](const std::string& text) {
        HttpResponse response;
        replyText(response, text);
        reply->complete(std::move(response));
    };
    const auto user = m_sessions.userOf(request);
    if (!user)
        return answer(kErrorNotSignedIn);
    if (userIdKey(request.param("id")) != user->key)
        return answer(kErrorOtherUser);
    int seconds = kLongestWaitSeconds;
    const std::string asked = request.param("timeout");
    if (!asked.empty() && asked.size() <= 3 &&
        asked.find_first_not_of("0123456789") == std::string::npos)
        seconds = std::clamp(std::stoi(asked), 1, kLongestWaitSeconds);
    m_waitingRoom->wait(user->key, std::chrono::steady_clock::now() + std::chrono::seconds(seconds),
                        [reply](bool arrived) {
                            HttpResponse response;
                            replyText(response, arrived ? "OK" : kErrorNothing);
                            reply->complete(std::move(response));
                        });
    // Looked at after joining the room, so a message that came in between
    // is not missed. Only the waiters here are told: the message is not new,
    // so the other server processes need not hear of it.
    if (m_queue.waitingCount(user->key) > 0)
        m_waitingRoom->heard(user->key);
}
