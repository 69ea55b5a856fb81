#include "messagepages.h"

#include "accountstore.h"
#include "arrivaldate.h"
#include "messagequeue.h"
#include "peeracknowledgement.h"
#include "reply.h"
#include "serverlog.h"
#include "sessionstore.h"
#include "uploadheader.h"
#include "userid.h"

#include <httplib.h>

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

std::string unknownRecipientText(const std::string& recipient) {
    return "INVALID: " + recipient + " is not a registered user ID.";
}

std::optional<std::uint64_t> declaredLength(const httplib::Request& request) {
    if (!request.has_header("Content-Length"))
        return std::nullopt;
    return request.get_header_value<std::uint64_t>("Content-Length");
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
class UploadReceiver {
public:
    UploadReceiver(AccountStore& accounts, MessageQueue& queue, const SignedInUser& user,
                   std::uint64_t maxFileBytes, std::string tooLargeText)
        : m_accounts(accounts), m_queue(queue), m_user(user), m_maxFileBytes(maxFileBytes),
          m_tooLargeText(std::move(tooLargeText)) {}

    bool receive(const char* data, std::size_t size) {
        if (m_header.size() < kUploadHeaderBytes) {
            const std::size_t take = std::min(size, kUploadHeaderBytes - m_header.size());
            m_header.append(data, take);
            data += take;
            size -= take;
            if (m_header.size() == kUploadHeaderBytes)
                judgeHeader();
        }
        m_fileBytes += size;
        if (m_fileBytes > m_maxFileBytes) {
            m_refusal = m_tooLargeText;
            m_file.reset();
            return false;
        }
        if (m_file && size > 0 && !m_file->write(data, size)) {
            m_storeFailed = true;
            m_file.reset();
        }
        return true;
    }

    // The text of the reply once the body has been read.
    std::string finish(bool bodyComplete) {
        if (!m_refusal.empty())
            return m_refusal;
        if (m_header.size() < kUploadHeaderBytes)
            return kShortHeader;
        if (m_fileBytes == 0)
            return kNoData;
        if (!bodyComplete || m_storeFailed || !m_file)
            return kNotStored;
        std::string error;
        if (!m_queue.enqueue(std::move(m_file), userIdKey(m_parsed.recipient), m_user.key,
                             m_parsed.name, &error)) {
            logServerProblem("an upload could not be stored: " + error);
            return kNotStored;
        }
        return "OK";
    }

private:
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
        std::string error;
        m_file = m_queue.receive(&error);
        if (!m_file) {
            logServerProblem("an upload could not be stored: " + error);
            m_storeFailed = true;
        }
    }

    AccountStore& m_accounts;
    MessageQueue& m_queue;
    const SignedInUser& m_user;
    std::uint64_t m_maxFileBytes;
    std::string m_tooLargeText;
    std::string m_header;
    UploadHeader m_parsed;
    std::string m_refusal;
    std::unique_ptr<IncomingFile> m_file;
    std::uint64_t m_fileBytes = 0;
    bool m_storeFailed = false;
};

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
    WaitingMessage message;
    std::string fields;
    int fd = -1;
    bool claimed = false;
    // Bytes written from the record's start on; a reply for only part of
    // it (a range) never reaches the total.
    std::size_t sentFromStart = 0;
    ConnectionEnd local;
    ConnectionEnd remote;

    ~Delivery() {
        if (fd >= 0)
            ::close(fd);
    }

    // After the last byte was written: the connection's socket is found by
    // its two ends, as the HTTP library does not hand it to page handlers.
    void retireOnceAcknowledged() const {
        // A connection the peer has already reset has no peer end any more,
        // and is not found: the message stays waiting.
        const int socket = findConnectionSocket(local, remote);
        if (socket < 0)
            return;
        if (!waitForPeerAcknowledgement(socket, kAcknowledgementTimeout))
            return;
        try {
            queue->retire(message);
        } catch (const DatabaseError& e) {
            logServerProblem("a delivered message could not be retired: " + std::string(e.what()));
        }
    }
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

void refuse(httplib::Response& response, const std::string& text) {
    replyText(response, text);
}
} // namespace

MessagePages::MessagePages(AccountStore& accounts, SessionStore& sessions, MessageQueue& queue,
                           std::uint64_t maxMessageBytes)
    : m_accounts(accounts), m_sessions(sessions), m_queue(queue),
      m_maxMessageBytes(maxMessageBytes) {}

void MessagePages::addRoutes(httplib::Server& http) {
    using httplib::ContentReader;
    using httplib::Request;
    using httplib::Response;
    http.Post("/zeb/post.asp",
              [this](const Request& q, Response& r, const ContentReader& c) { post(q, r, c); });
    http.Get("/zeb/download.asp", [this](const Request& q, Response& r) { download(q, r); });
}

std::uint64_t MessagePages::largestBody() const {
    // The header block, the file and its padding to a whole block.
    return kUploadHeaderBytes + m_maxMessageBytes + kUploadHeaderBytes;
}

std::optional<std::string> MessagePages::refusalBeforeBody(const httplib::Request& request,
                                                           std::optional<SignedInUser>& user) {
    user = m_sessions.userOf(request);
    if (!user)
        return std::string(kNotSignedIn);
    if (const auto length = declaredLength(request); length && *length > largestBody())
        return tooLargeText(m_maxMessageBytes);
    return std::nullopt;
}

int MessagePages::expectContinue(const httplib::Request& request, httplib::Response& response) {
    if (request.path != "/zeb/post.asp")
        return 100;
    std::optional<SignedInUser> user;
    if (const auto refusal = refusalBeforeBody(request, user)) {
        refuse(response, *refusal);
        // This early reply goes out without the library's framing: without
        // a length the client would read on into whatever follows.
        response.set_header("Content-Length", std::to_string(response.body.size()));
        response.set_header("Connection", "close");
        return 200;
    }
    return 100;
}

void MessagePages::post(const httplib::Request& request, httplib::Response& response,
                        const httplib::ContentReader& content) {
    std::optional<SignedInUser> user;
    if (const auto refusal = refusalBeforeBody(request, user)) {
        const auto length = declaredLength(request);
        if (length && *length <= kDrainLimit)
            content([](const char*, size_t) { return true; });
        else
            response.set_header("Connection", "close");
        return refuse(response, *refusal);
    }
    UploadReceiver receiver(m_accounts, m_queue, *user, largestBody() - kUploadHeaderBytes,
                            tooLargeText(m_maxMessageBytes));
    const bool complete =
        content([&](const char* data, size_t size) { return receiver.receive(data, size); });
    const std::string reply = receiver.finish(complete);
    if (!complete)
        response.set_header("Connection", "close");
    refuse(response, reply);
}

void MessagePages::download(const httplib::Request& request, httplib::Response& response) {
    const auto user = m_sessions.userOf(request);
    if (!user)
        return refuse(response, kErrorNotSignedIn);
    if (userIdKey(request.get_param_value("id")) != user->key)
        return refuse(response, kErrorOtherUser);
    const bool confirming = request.has_param(kReceivedParameter);
    if (confirming) {
        const std::string filed = request.get_param_value(kReceivedParameter);
        if (!filed.empty())
            m_queue.confirm(user->key, filed);
    }
    auto delivery = std::make_shared<Delivery>();
    delivery->queue = &m_queue;
    delivery->claimed = !confirming;
    delivery->local = {request.local_addr, request.local_port};
    delivery->remote = {request.remote_addr, request.remote_port};
    while (true) {
        // A confirming client gets the oldest message until it confirms it,
        // even while an earlier reply to it may still be under way.
        auto message = confirming ? m_queue.oldest(user->key) : m_queue.claimOldest(user->key);
        if (!message)
            return refuse(response, kErrorNothing);
        const int fd = ::open(m_queue.pathOf(*message).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            logServerProblem("a waiting message has lost its file: " + message->file);
            if (!confirming)
                m_queue.release(*message);
            m_queue.dropBroken(*message);
            continue;
        }
        delivery->message = *message;
        delivery->fd = fd;
        break;
    }
    delivery->fields = recordFields(delivery->message);
    const std::size_t total =
        delivery->fields.size() + static_cast<std::size_t>(delivery->message.size);
    response.status = 200;
    response.set_header("Cache-Control", "no-store");
    response.set_content_provider(
        total, "application/octet-stream",
        [delivery, total](size_t offset, size_t length, httplib::DataSink& sink) {
            const std::string& fields = delivery->fields;
            size_t written = 0;
            if (offset < fields.size()) {
                written = std::min(length, fields.size() - offset);
                if (!sink.write(fields.data() + offset, written))
                    return false;
            } else {
                char buffer[kSendPiece];
                const size_t want = std::min(length, sizeof buffer);
                const ssize_t n =
                    ::pread(delivery->fd, buffer, want, static_cast<off_t>(offset - fields.size()));
                // A file shorter than its entry says ends the reply early:
                // the client sees a cut record and the message stays waiting.
                if (n <= 0 || !sink.write(buffer, static_cast<size_t>(n)))
                    return false;
                written = static_cast<size_t>(n);
            }
            if (offset == delivery->sentFromStart)
                delivery->sentFromStart += written;
            if (delivery->claimed && delivery->sentFromStart == total)
                delivery->retireOnceAcknowledged();
            return true;
        },
        [delivery](bool) {
            if (delivery->claimed)
                delivery->queue->release(delivery->message);
        });
}
