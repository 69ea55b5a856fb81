#pragma once

#include "service/sendreceive.h"

#include <memory>

class ServiceAddress;

// The Send/Receive worker's transfers against the service: uploads with an
// empty fourth field and no progress bar, downloads of the user's own
// messages, each confirming the name last set with setReceived.
std::unique_ptr<MessageTransport> makeServiceTransport(const ServiceAddress& service,
                                                       const QString& userId);
