#pragma once

#include "pagegroup.h"

// "/zeb/ad.asp": the small welcome page the client shows in its web panel
// after sign-in. Self-contained HTML: no pictures, scripts or links to
// fetch, since the panel shows only what this one reply holds.
class WelcomePage : public PageGroup {
public:
    void addRoutes(Routes& routes) override;

    static const char kHtml[];
};
