#pragma once

#include <string>

struct HttpResponse;

inline constexpr char kPlainTextType[] = "text/plain; charset=utf-8";
inline constexpr char kHtmlType[] = "text/html; charset=utf-8";

// Account replies are always status 200: the client shows the text of a 200
// reply to the user and nothing of any other status.
void replyText(HttpResponse& response, const std::string& text);
void replyHtml(HttpResponse& response, const std::string& html);
