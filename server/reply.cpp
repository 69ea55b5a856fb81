#include "reply.h"

#include "serverlog.h"

#include <httplib.h>

namespace {
void noStore(httplib::Response& response) {
    // Replies carry session cookies and account outcomes: never cached.
    response.set_header("Cache-Control", "no-store");
}
} // namespace

void replyText(httplib::Response& response, const std::string& text) {
    response.status = 200;
    noStore(response);
    response.set_content(text, kPlainTextType);
}

void replyHtml(httplib::Response& response, const std::string& html) {
    response.status = 200;
    noStore(response);
    response.set_content(html, kHtmlType);
}

void installErrorReplies(httplib::Server& http) {
    http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty())
            return;
        noStore(response);
        response.set_content(response.status == 404 ? "Page not found." : "Request refused.",
                             kPlainTextType);
    });
    http.set_exception_handler(
        [](const httplib::Request& request, httplib::Response& response, std::exception_ptr ep) {
            std::string what = "unknown failure";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            logServerProblem(request.path + " failed: " + what);
            response.status = 500;
            noStore(response);
            response.set_content("The service could not complete this request. Please try again "
                                 "later.",
                                 kPlainTextType);
        });
}
