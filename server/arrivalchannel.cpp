#include "arrivalchannel.h"

#include "database.h"
#include "serverlog.h"

#include <libpq-fe.h>

#include <chrono>
#include <poll.h>

namespace {
// How often the listener looks whether it is to stop, and how long it waits
// before it opens a broken connection again.
constexpr int kCheckMs = 200;
constexpr auto kReconnectPause = std::chrono::seconds(1);
} // namespace

ArrivalChannel::ArrivalChannel(std::string url, Heard heard)
    : m_url(std::move(url)), m_heard(std::move(heard)), m_thread([this] { listen(); }) {}

ArrivalChannel::~ArrivalChannel() {
    m_stopping = true;
    m_thread.join();
}

void ArrivalChannel::announce(Database& db, const std::string& recipientKey) {
    try {
        auto guard = db.lock();
        Statement(db, "SELECT pg_notify('clipnote_arrivals', ?)").bind(1, recipientKey).run();
    } catch (const DatabaseError& e) {
        logServerProblem(std::string("an arrival could not be announced: ") + e.what());
    }
}

void ArrivalChannel::listen() {
    while (!m_stopping) {
        PGconn* conn = PQconnectdb(m_url.c_str());
        PGresult* listening =
            PQstatus(conn) == CONNECTION_OK ? PQexec(conn, "LISTEN clipnote_arrivals") : nullptr;
        const bool ready = listening && PQresultStatus(listening) == PGRES_COMMAND_OK;
        PQclear(listening);
        while (ready && !m_stopping) {
            pollfd p{PQsocket(conn), POLLIN, 0};
            if (::poll(&p, 1, kCheckMs) < 0 || !PQconsumeInput(conn))
                break;
            while (PGnotify* notice = PQnotifies(conn)) {
                m_heard(notice->extra);
                PQfreemem(notice);
            }
        }
        PQfinish(conn);
        // Broken or never open: tried again after a pause, in small steps
        // so that stopping is not held up.
        for (auto waited = std::chrono::milliseconds(0); waited < kReconnectPause && !m_stopping;
             waited += std::chrono::milliseconds(kCheckMs))
            std::this_thread::sleep_for(std::chrono::milliseconds(kCheckMs));
    }
}
