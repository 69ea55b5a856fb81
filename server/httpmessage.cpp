#include "httpmessage.h"

#include <charconv>
#include <strings.h>

namespace {
bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}
} // namespace

bool HttpRequest::hasParam(std::string_view name) const {
    for (const auto& [key, value] : params)
        if (key == name)
            return true;
    return false;
}

std::string HttpRequest::param(std::string_view name) const {
    for (const auto& [key, value] : params)
        if (key == name)
            return value;
    return {};
}

bool HttpRequest::hasHeader(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (sameName(key, name))
            return true;
    return false;
}

std::string HttpRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (sameName(key, name))
            return value;
    return {};
}

std::vector<std::string> HttpRequest::headerValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers)
        if (sameName(key, name))
            values.push_back(value);
    return values;
}

std::optional<std::uint64_t> HttpRequest::contentLength() const {
    if (!hasHeader("Content-Length"))
        return std::nullopt;
    const std::string text = header("Content-Length");
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return length;
}

void HttpResponse::setHeader(std::string name, std::string value) {
    for (auto& [key, existing] : headers) {
        if (sameName(key, name)) {
            existing = std::move(value);
            return;
        }
    }
    headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::setContent(std::string content, std::string type) {
    body = std::move(content);
    stream.reset();
    setHeader("Content-Type", std::move(type));
}
