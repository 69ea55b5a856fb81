#pragma once

#include "service/transferresult.h"
#include "service/uploadbody.h"
#include "service/waitoutcome.h"

#include <QString>

#include <functional>

class QIODevice;
class ServiceAddress;
struct UploadRequest;

// The HTTP client of the message pages: upload ("zeb/post.asp"), download
// ("zeb/download.asp") and the wait for the next message ("zeb/wait.asp").
// The Send/Receive worker reaches it through a MessageTransport, which adds
// the user's credentials and what the worker needs beyond single calls. Each call opens, uses and
// closes its own libcurl handle; all of them share the process's cookie store, so they present the
// session cookie of the sign-in. Calls block their thread for the whole exchange and touch no
// widget.
class MessagePageClient {
public:
    explicit MessagePageClient(const ServiceAddress& service);
    // Base address ending in "/", for example "http://127.0.0.1:8080/".
    explicit MessagePageClient(QString baseUrl);

    // 30 s each unless a test injects shorter ones. A transfer on which no
    // byte moves for the stall time-out is given up.
    void setConnectTimeoutMs(long milliseconds);
    void setStallTimeoutMs(long milliseconds);

    // Posts one file with its header block; nothing is sent when the file
    // cannot be opened. A reply piece beginning with "INVALID" is shown to
    // the user, and the call returns only once the box is dismissed; the
    // refusal for a missing session is not shown, signing in again is the
    // caller's remedy (SessionGone).
    TransferResult upload(const QString& filePath, const QString& name, const QString& sender,
                          const QString& recipient, const QString& fourth,
                          UploadProgress* progress = nullptr);
    // upload() as a number: 1 when the service answered "OK", else 0.
    int UploadMessage(const QString& filePath, const QString& name, const QString& sender,
                      const QString& recipient, const QString& fourth,
                      UploadProgress* progress = nullptr) {
        return upload(filePath, name, sender, recipient, fourth, progress).asNumber();
    }
    // Sends the body of an opened upload request: the header block, then the
    // file from its start in 1024-byte blocks, and reads the reply. 1 when
    // the exchange completed, else 0.
    int WriteUploadBody(UploadRequest& request, qint64 total, QIODevice& file, const QString& name,
                        const QString& sender, const QString& recipient, const QString& fourth,
                        UploadProgress* progress);

    // Fetches the next message waiting for userId into targetPath through
    // the working file targetPath + "~", both readable by the user alone.
    // `received` names the last message filed and not yet confirmed (the
    // record's trimmed name field, empty for none): the service keeps handing
    // a message out until it is named here, so a client that dies before
    // filing loses nothing. Done when targetPath now holds a whole record;
    // no message ("ERROR", its text as the reason), a reply that broke off
    // before its end or any other failure leaves neither the working file
    // nor a new target behind; an earlier target file is replaced only by a
    // complete record.
    TransferResult download(const QString& targetPath, const QString& userId,
                            const QString& received = QString());
    // download() as a number: 1 for a whole record, else 0.
    int DownloadMessage(const QString& targetPath, const QString& userId,
                        const QString& received = QString()) {
        return download(targetPath, userId, received).asNumber();
    }

    // Waits up to `seconds` (the service allows at most 25) until a message
    // waits for userId ("zeb/wait.asp"). `abort` is asked about every 50 ms
    // and ends the wait early when it says true.
    WaitOutcome WaitForMessage(const QString& userId, int seconds, std::function<bool()> abort);

    // How the last download's reply arrived: the number of pieces read, the
    // largest of them and the bytes in all.
    struct ReadCounts {
        int reads = 0;
        qint64 largestRead = 0;
        qint64 bytes = 0;
    };
    ReadCounts lastDownloadReads() const { return m_lastReads; }

    // Agent name of both transfers.
    static constexpr char kAgent[] = "HttpSendRequestEx";
    // Reply pieces are read at most this long.
    static constexpr qsizetype kReplyPieceBytes = 127;
    // The record is taken in reads of at most this size ...
    static constexpr long kReadBytes = 1024;
    // ... from a socket read in pieces of up to this size: the reply is
    // never held whole.
    static constexpr long kSocketReadBytes = 64 * 1024;
    // Largest record accepted: far above any recorded message, low enough
    // that a runaway reply cannot fill the disk.
    static constexpr qint64 kMaxRecordBytes = qint64(256) * 1024 * 1024;
    // Reply text beyond this much is not read: no service reply is longer.
    static constexpr qint64 kMaxUploadReplyBytes = 64 * 1024;

private:
    QString m_base;
    long m_connectTimeoutMs = 30000;
    long m_stallTimeoutMs = 30000;
    ReadCounts m_lastReads;
};
