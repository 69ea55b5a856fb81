#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

typedef void CURL;

// Process-wide HTTP client state. Every libcurl handle of the program (the
// account-page session, each upload and each download) shares one cookie
// store, as handles of one process share cookies on the desktop platform:
// the session cookie of a sign-in is presented by the transfers too.
namespace http {

// Global libcurl set-up; false when the library cannot be initialised.
bool initialise();
void cleanup();

// What every handle of the program shares: the cookie store, and the check
// of an https service's certificate and host name against the system's
// trust store, plus the certificate authority named by setExtraCaFile().
void prepareHandle(CURL* handle);

// A PEM file of certificate authorities trusted besides the system's, for a
// service with a private one; empty for none. Set once at start.
void setExtraCaFile(const QString& path);
// "--ca-file FILE" (or "--ca-file=FILE"), else CLIPNOTE_CA_FILE; empty for none.
QString extraCaFileFromArguments(const QStringList& arguments);

// Error numbers that callers see, in the platform's numbering.
inline constexpr int kErrorTimeout = 12002;
inline constexpr int kErrorInternal = 12004;
inline constexpr int kErrorInvalidUrl = 12005;
inline constexpr int kErrorNameNotResolved = 12007;
inline constexpr int kErrorCannotConnect = 12029;
inline constexpr int kErrorConnectionAborted = 12030;
inline constexpr int kErrorConnectionReset = 12031;
inline constexpr int kErrorInvalidServerResponse = 12152;
// The service's certificate could not be verified: nothing was sent.
inline constexpr int kErrorSecureFailure = 12175;

// What the user is told when the certificate of the service at baseUrl
// cannot be verified.
QString secureFailureText(const QString& baseUrl);

// Maps a libcurl result (an int holding a CURLcode) to an error number.
int errorNumber(int curlCode);

// Ends a transfer on which no byte moved in either direction for longer
// than the limit, whether before the first byte of the reply or in the
// middle of a body. Lives as long as the transfer it watches.
class StallWatch {
public:
    explicit StallWatch(long limitMs) : m_limitMs(limitMs) { m_sinceProgress.start(); }
    // Makes the handle report its progress to this watch.
    void install(CURL* handle);
    bool stalled() const { return m_stalled; }
    // True when the transfer is to be ended.
    bool check(long long bytesMoved);

private:
    long m_limitMs;
    long long m_lastBytes = -1;
    QElapsedTimer m_sinceProgress;
    bool m_stalled = false;
};

} // namespace http
