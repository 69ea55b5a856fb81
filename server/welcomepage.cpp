#include "welcomepage.h"

#include "reply.h"

#include "routes.h"

const char WelcomePage::kHtml[] = R"html(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Welcome to Clipnote</title>
<style>
body { font-family: sans-serif; margin: 8px; color: #1d2b3a; background: #f4f8fb; }
h1 { font-size: 15px; margin: 0 0 6px 0; color: #0b5394; }
p { font-size: 12px; margin: 0 0 6px 0; }
</style>
</head>
<body>
<h1>Welcome to Clipnote</h1>
<p>Pick one or more contacts, then hold the space bar (or press the record light) to record
a video message of up to 30 seconds. Let go and it is on its way.</p>
<p>New messages arrive by themselves: the tray icon blinks until you have watched them.</p>
</body>
</html>
)html";

void WelcomePage::addRoutes(Routes& routes) {
    routes.get("/zeb/ad.asp",
               [](const HttpRequest&, HttpResponse& response) { replyHtml(response, kHtml); });
}
