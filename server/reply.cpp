#include "reply.h"

#include "httpmessage.h"

namespace {
void noStore(HttpResponse& response) {
    // Replies carry session cookies and account outcomes: never cached.
    response.setHeader("Cache-Control", "no-store");
}
} // namespace

void replyText(HttpResponse& response, const std::string& text) {
    response.status = 200;
    noStore(response);
    response.setContent(text, kPlainTextType);
}

void replyHtml(HttpResponse& response, const std::string& html) {
    response.status = 200;
    noStore(response);
    response.setContent(html, kHtmlType);
}
