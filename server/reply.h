#pragma once

#include <string>

namespace httplib {
class Server;
struct Response;
} // namespace httplib

inline constexpr char kPlainTextType[] = "text/plain; charset=utf-8";
inline constexpr char kHtmlType[] = "text/html; charset=utf-8";

// Account replies are always status 200: the client shows the text of a 200
// reply to the user and nothing of any other status.
void replyText(httplib::Response& response, const std::string& text);
void replyHtml(httplib::Response& response, const std::string& html);

// Plain-text bodies for unknown pages (404) and for failures inside a page
// (500, logged without the request's values).
void installErrorReplies(httplib::Server& http);
