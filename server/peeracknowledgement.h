#pragma once

#include <chrono>
#include <string>

// One end of a TCP connection as the HTTP library reports it: the numeric
// address text and the port.
struct ConnectionEnd {
    std::string address;
    int port = -1;
};

// The descriptor of this process's TCP socket whose own end is local and
// whose peer is remote, or -1. Open sockets are unique by their two ends, so
// the one found is the connection of that request while its handler runs.
int findConnectionSocket(const ConnectionEnd& local, const ConnectionEnd& remote);

// Waits until the peer's machine has acknowledged every byte written to the
// socket, that is until nothing is left in its send queue. False when the
// connection broke or the time ran out first.
bool waitForPeerAcknowledgement(int fd, std::chrono::milliseconds timeout);
