#include "service/messagepageclient.h"

#include "platform/alert.h"
#include "platform/profile.h"
#include "service/httpshared.h"
#include "service/replytext.h"
#include "service/serviceaddress.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <curl/curl.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How the service words the refusal of a request that carries no valid session.
constexpr char kUploadNotSignedIn[] = "INVALID: You are not signed in";
constexpr char kDownloadNotSignedIn[] = "ERROR: You are not signed in";

// The reply to an upload, cut into the pieces a reader of at most 127 bytes
// at a time gets. A piece beginning with "OK" marks success; one beginning
// with "INVALID" is kept to be shown.
class ReplyPieces {
public:
    // False once the reply has grown past what is read of it.
    bool append(const char* data, qsizetype size) {
        for (qsizetype i = 0; i < size; ++i) {
            if (m_total >= MessagePageClient::kMaxUploadReplyBytes) {
                m_cut = true;
                return false;
            }
            m_piece.append(data[i]);
            ++m_total;
            if (m_piece.size() == MessagePageClient::kReplyPieceBytes)
                completePiece();
        }
        return true;
    }

    void finish() {
        if (!m_piece.isEmpty())
            completePiece();
    }

    bool cut() const { return m_cut; }
    bool ok() const { return m_ok; }
    const QList<QByteArray>& invalidPieces() const { return m_invalid; }

private:
    void completePiece() {
        if (m_piece.startsWith("OK")) {
            m_ok = true;
        } else if (m_piece.startsWith("INVALID")) {
            // The piece is shown as text, which ends at a zero byte.
            const qsizetype nul = m_piece.indexOf('\0');
            m_invalid.append(nul >= 0 ? m_piece.left(nul) : m_piece);
        }
        m_piece.clear();
    }

    QByteArray m_piece;
    qint64 m_total = 0;
    bool m_ok = false;
    bool m_cut = false;
    QList<QByteArray> m_invalid;
};

// The service's reason without the "INVALID:" mark, on one line.
QString refusalReason(const QString& text) {
    QString reason = text.mid(int(qstrlen("INVALID"))).trimmed();
    if (reason.startsWith(QLatin1Char(':')))
        reason = reason.mid(1).trimmed();
    reason.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    return reason.isEmpty() ? QStringLiteral("The service refused the message.") : reason;
}

size_t receiveReply(char* data, size_t size, size_t count, void* user) {
    auto* pieces = static_cast<ReplyPieces*>(user);
    const size_t n = size * count;
    return pieces->append(data, static_cast<qsizetype>(n)) ? n : 0;
}

size_t sendBody(char* buffer, size_t size, size_t count, void* user) {
    const qint64 n = static_cast<UploadBodySource*>(user)->read(buffer, qint64(size * count));
    return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
}

// The reply of a download streamed into the working file. The first five
// bytes are held back until it is clear whether the reply is the "ERROR"
// answer, which is never stored.
class RecordSink {
public:
    explicit RecordSink(QFile& file, MessagePageClient::ReadCounts& counts)
        : m_file(file), m_counts(counts) {}

    bool receive(const char* data, qsizetype size) {
        ++m_counts.reads;
        m_counts.largestRead = qMax(m_counts.largestRead, qint64(size));
        m_counts.bytes += size;
        if (m_counts.bytes > MessagePageClient::kMaxRecordBytes) {
            m_failed = true;
            return false;
        }
        if (m_errorReply)
            return keepErrorText(data, size);
        if (m_decided)
            return store(data, size);
        const qsizetype take = qMin(size, kErrorMark - m_head.size());
        m_head.append(data, take);
        if (m_head.size() < kErrorMark)
            return true;
        if (!decide())
            return false;
        if (m_errorReply)
            return keepErrorText(data + take, size - take);
        return store(data + take, size - take);
    }

    // At the end of the reply: a body shorter than the mark is data too.
    bool finish() {
        if (!m_decided && !m_head.isEmpty())
            return decide();
        return !m_failed;
    }

    bool errorReply() const { return m_errorReply; }
    // The start of an "ERROR" answer, enough to tell its kind.
    const QByteArray& errorText() const { return m_head; }
    bool failed() const { return m_failed; }
    bool wroteData() const { return m_wrote; }

private:
    static constexpr qsizetype kErrorMark = 5;
    static constexpr qsizetype kErrorTextBytes = 128;

    bool decide() {
        m_decided = true;
        if (m_head.startsWith("ERROR")) {
            // Read on far enough to tell a missing session from no message.
            m_errorReply = true;
            return true;
        }
        return store(m_head.constData(), m_head.size());
    }

    bool keepErrorText(const char* data, qsizetype size) {
        m_head.append(data, qMin(size, kErrorTextBytes - m_head.size()));
        return m_head.size() < kErrorTextBytes;
    }

    bool store(const char* data, qsizetype size) {
        if (size == 0)
            return true;
        // The file is written in large pieces; the record's small reads
        // would otherwise cost a buffer copy and bookkeeping each.
        if (m_pending.capacity() < kPendingBytes)
            m_pending.reserve(kPendingBytes);
        m_pending.append(data, size);
        m_wrote = true;
        return m_pending.size() < kPendingBytes || writePending();
    }

public:
    // Writes what is held; false when the file refused it.
    bool writePending() {
        if (m_pending.isEmpty())
            return !m_failed;
        if (m_file.write(m_pending) != m_pending.size())
            m_failed = true;
        m_pending.resize(0);
        return !m_failed;
    }

private:
    static constexpr qsizetype kPendingBytes = 256 * 1024;
    QByteArray m_pending;

    QFile& m_file;
    MessagePageClient::ReadCounts& m_counts;
    QByteArray m_head;
    bool m_decided = false;
    bool m_errorReply = false;
    bool m_failed = false;
    bool m_wrote = false;
};

size_t receiveRecord(char* data, size_t size, size_t count, void* user) {
    // The socket is read in larger pieces for speed; the record is taken in
    // reads of at most kReadBytes, as it always has been.
    auto* sink = static_cast<RecordSink*>(user);
    const qsizetype n = static_cast<qsizetype>(size * count);
    for (qsizetype at = 0; at < n; at += MessagePageClient::kReadBytes) {
        if (!sink->receive(data + at, qMin<qsizetype>(MessagePageClient::kReadBytes, n - at)))
            return 0;
    }
    return static_cast<size_t>(n);
}

// A fresh handle with what both transfers share: agent, cookies, time-outs.
CURL* openHandle(const QByteArray& url, long connectTimeoutMs) {
    CURL* h = curl_easy_init();
    if (!h)
        return nullptr;
    http::prepareHandle(h);
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_USERAGENT, MessagePageClient::kAgent);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    return h;
}

} // namespace

// One upload request: its handle, its header list and the reply read so far.
struct UploadRequest {
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    ReplyPieces reply;

    ~UploadRequest() {
        if (handle)
            curl_easy_cleanup(handle);
        curl_slist_free_all(headers);
    }
};

MessagePageClient::MessagePageClient(const ServiceAddress& service)
    : MessagePageClient(service.baseUrl()) {}

MessagePageClient::MessagePageClient(QString baseUrl) : m_base(std::move(baseUrl)) {
    if (!m_base.isEmpty() && !m_base.endsWith(QLatin1Char('/')))
        m_base += QLatin1Char('/');
}

void MessagePageClient::setConnectTimeoutMs(long milliseconds) {
    m_connectTimeoutMs = milliseconds > 0 ? milliseconds : 30000;
}

void MessagePageClient::setStallTimeoutMs(long milliseconds) {
    m_stallTimeoutMs = milliseconds > 0 ? milliseconds : 30000;
}

TransferResult MessagePageClient::upload(const QString& filePath, const QString& name,
                                         const QString& sender, const QString& recipient,
                                         const QString& fourth, UploadProgress* progress) {
    QFile file(filePath);
    if (!QFileInfo(filePath).isFile() || !file.open(QIODevice::ReadOnly))
        return TransferResult::failed();
    const qint64 total = uploadBodyLength(file.size());
    if (progress) {
        progress->setPosition(0);
        progress->setRange(0, static_cast<int>(total / kUploadBlockBytes));
    }

    UploadRequest request;
    request.handle =
        openHandle((m_base + QStringLiteral("zeb/post.asp")).toUtf8(), m_connectTimeoutMs);
    if (!request.handle)
        return TransferResult::failed();
    // The body goes out as it is: no form encoding is claimed for it.
    request.headers = curl_slist_append(request.headers, "Content-Type:");
    curl_easy_setopt(request.handle, CURLOPT_HTTPHEADER, request.headers);

    if (!WriteUploadBody(request, total, file, name, sender, recipient, fourth, progress))
        return TransferResult::failed();
    // The boxes come after the connection is closed, so a box left open
    // holds no connection of the service.
    curl_easy_cleanup(request.handle);
    request.handle = nullptr;
    bool sessionGone = false;
    QString refusal;
    for (const QByteArray& piece : request.reply.invalidPieces()) {
        if (piece.startsWith(kUploadNotSignedIn)) {
            sessionGone = true;
            continue;
        }
        const QString text = QString::fromUtf8(piece);
        if (!request.reply.ok())
            refusal = refusal.isEmpty() ? refusalReason(text)
                                        : refusal + QLatin1Char(' ') + refusalReason(text);
        showAlert(replyForDisplay(text), Profile::executableBaseName(), AlertIcon::None);
    }
    if (request.reply.ok())
        return TransferResult::done();
    // The service stored nothing without a session, whatever else it said.
    if (sessionGone)
        return {TransferResult::Outcome::SessionGone, {}};
    if (!refusal.isEmpty())
        return {TransferResult::Outcome::Refused, refusal};
    return TransferResult::failed();
}

int MessagePageClient::WriteUploadBody(UploadRequest& request, qint64 total, QIODevice& file,
                                       const QString& name, const QString& sender,
                                       const QString& recipient, const QString& fourth,
                                       UploadProgress* progress) {
    if (!file.seek(0))
        return 0;
    UploadBodySource body(file, total, uploadHeaderBlock(name, sender, recipient, fourth),
                          progress);
    http::StallWatch stallWatch(m_stallTimeoutMs);
    CURL* h = request.handle;
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(total));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, sendBody);
    curl_easy_setopt(h, CURLOPT_READDATA, &body);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, receiveReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &request.reply);
    stallWatch.install(h);
    const CURLcode rc = curl_easy_perform(h);
    if (progress)
        progress->setPosition(static_cast<int>(total / kUploadBlockBytes));
    // A service may answer before taking the whole body (a refusal); its
    // reply still counts. A reply too long to read to its end is judged by
    // what was read.
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && request.reply.cut()))
        return 0;
    request.reply.finish();
    return 1;
}

TransferResult MessagePageClient::download(const QString& targetPath, const QString& userId,
                                           const QString& received) {
    m_lastReads = {};
    const QString workingPath = targetPath + QLatin1Char('~');
    // A message is private: the record is the user's alone, also when a
    // working file of an earlier run is reused.
    const int fd = ::open(QFile::encodeName(workingPath).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QFile working;
    if (fd < 0 || ::fchmod(fd, 0600) != 0 ||
        !working.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        QFile::remove(workingPath);
        return TransferResult::failed();
    }
    RecordSink sink(working, m_lastReads);
    bool complete = false;
    TransferResult refused;
    const QString page =
        pagePath(QStringLiteral("zeb/download.asp"),
                 {{QStringLiteral("id"), userId}, {QStringLiteral("received"), received}});
    if (CURL* h = openHandle((m_base + page).toUtf8(), m_connectTimeoutMs)) {
        curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
        http::StallWatch stallWatch(m_stallTimeoutMs);
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kSocketReadBytes);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, receiveRecord);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
        stallWatch.install(h);
        // A reply that ends before its Content-Length, or breaks off in any
        // other way, is a failure: a cut record is never handed on.
        const CURLcode rc = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        // Only a 200 reply carries a record; an error page is not a message.
        complete = rc == CURLE_OK && status == 200 && sink.finish();
        if (sink.errorReply())
            refused = sink.errorText().startsWith(kDownloadNotSignedIn)
                          ? TransferResult{TransferResult::Outcome::SessionGone, {}}
                          : TransferResult::failed(QString::fromUtf8(sink.errorText()));
        curl_easy_cleanup(h);
        curl_slist_free_all(headers);
    }
    const bool flushed = sink.writePending() && working.flush();
    working.close();
    if (!complete || !flushed || !sink.wroteData()) {
        QFile::remove(workingPath);
        return refused;
    }
    // rename() replaces an earlier target in one step.
    if (std::rename(QFile::encodeName(workingPath).constData(),
                    QFile::encodeName(targetPath).constData()) != 0) {
        QFile::remove(workingPath);
        return TransferResult::failed();
    }
    return QFileInfo::exists(targetPath) ? TransferResult::done() : TransferResult::failed();
}

namespace {
size_t keepWaitReply(char* data, size_t size, size_t count, void* user) {
    auto* reply = static_cast<QByteArray*>(user);
    const size_t n = size * count;
    // The answers are a line of text; more is no answer of this page.
    if (reply->size() + qsizetype(n) > 4096)
        return 0;
    reply->append(data, qsizetype(n));
    return n;
}

// How often a pending wait looks whether it is still wanted: a recording
// filed meanwhile goes out within this, and closing is not held up.
constexpr int kWaitCheckMs = 50;
} // namespace

WaitOutcome MessagePageClient::WaitForMessage(const QString& userId, int seconds,
                                              std::function<bool()> abort) {
    seconds = qBound(1, seconds, 25);
    const QString page = pagePath(
        QStringLiteral("zeb/wait.asp"),
        {{QStringLiteral("id"), userId}, {QStringLiteral("timeout"), QString::number(seconds)}});
    CURL* h = openHandle((m_base + page).toUtf8(), m_connectTimeoutMs);
    if (!h)
        return WaitOutcome::Failed;
    CURLM* multi = curl_multi_init();
    if (!multi) {
        curl_easy_cleanup(h);
        return WaitOutcome::Failed;
    }
    QByteArray reply;
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keepWaitReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
    // The service answers by itself after `seconds`; a little more covers
    // the way there and back.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(seconds + 15) * 1000);
    curl_multi_add_handle(multi, h);
    // The transfer is driven here rather than by curl_easy_perform, so the
    // wait can be given up between two looks at the socket.
    bool aborted = false;
    int running = 1;
    CURLcode rc = CURLE_OK;
    while (true) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            rc = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE)
                    rc = message->data.result;
            break;
        }
        if (abort && abort()) {
            aborted = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kWaitCheckMs, nullptr);
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(multi, h);
    curl_easy_cleanup(h);
    curl_multi_cleanup(multi);
    if (aborted)
        return WaitOutcome::Aborted;
    if (rc != CURLE_OK)
        return WaitOutcome::Failed;
    if (status == 404)
        return WaitOutcome::Unsupported;
    if (status != 200)
        return WaitOutcome::Failed;
    if (reply.startsWith("OK"))
        return WaitOutcome::Arrived;
    if (reply.startsWith(kDownloadNotSignedIn))
        return WaitOutcome::SessionGone;
    return reply.startsWith("ERROR: No message") ? WaitOutcome::NothingYet : WaitOutcome::Failed;
}
