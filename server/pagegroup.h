#pragma once

class Routes;

// One area of the service's pages (accounts, the welcome page, messages).
// Each registers its own routes, so a new area is one more group.
class PageGroup {
public:
    virtual ~PageGroup() = default;
    virtual void addRoutes(Routes& routes) = 0;
};
