#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HttpFields = std::vector<std::pair<std::string, std::string>>;

// A request as the pages see it: its head, already decoded.
struct HttpRequest {
    std::string method;
    std::string path;
    // Query values, percent-decoded, in the order they came; a name without
    // "=" has an empty value.
    HttpFields params;
    HttpFields headers;
    std::string remoteAddress;
    // The connection's socket while the request is served; -1 when unknown.
    int socket = -1;

    bool hasParam(std::string_view name) const;
    // The first value of that name; empty when there is none.
    std::string param(std::string_view name) const;
    // Header names compare without regard to letter case.
    bool hasHeader(std::string_view name) const;
    std::string header(std::string_view name) const;
    std::vector<std::string> headerValues(std::string_view name) const;
    // The declared body length; none when absent or not a number.
    std::optional<std::uint64_t> contentLength() const;
};

// A body produced piece by piece while the reply goes out.
struct HttpStream {
    std::uint64_t size = 0;
    // Copies up to `max` bytes from `offset` into `buffer`: the number
    // copied, or -1 to break the reply off.
    std::function<std::int64_t(std::uint64_t offset, char* buffer, std::size_t max)> read;
    // Once the exchange is over: true when every byte went to the connection.
    std::function<void(bool complete)> done;
};

// The reply a page builds.
struct HttpResponse {
    int status = 200;
    HttpFields headers;
    std::string body;
    std::shared_ptr<HttpStream> stream;
    // The connection is closed after this reply.
    bool closeConnection = false;

    void setHeader(std::string name, std::string value);
    void setContent(std::string content, std::string type);
};
