#pragma once

#include "service/sendreceiveworker.h"

#include <functional>
#include <memory>

class ServiceAddress;

// The Send/Receive worker's transfers against the service: uploads with an
// empty fourth field and no progress bar, downloads of the user's own
// messages, each confirming the name last set with setReceived. The
// password, held in memory only, signs the run in again when the service
// has ended its session; without one the transport cannot sign in again.
// The source is asked at each new sign-in, so a password changed during the
// run is the one used; it is called on the worker's thread.
using PasswordSource = std::function<QString()>;
std::unique_ptr<MessageTransport>
makeServiceTransport(const ServiceAddress& service, const QString& userId, PasswordSource password);
std::unique_ptr<MessageTransport> makeServiceTransport(const ServiceAddress& service,
                                                       const QString& userId,
                                                       const QString& password = QString());
