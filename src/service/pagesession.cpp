#include "service/pagesession.h"

// Filled in with the libcurl session.
class CServiceSession {};
struct PageConnection {};
struct PageRequest {};

PageSession::PageSession() = default;
PageSession::~PageSession() = default;
void PageSession::setServiceBase(const QString& baseUrl) { m_base = baseUrl; }
void PageSession::setConnectTimeoutMs(long milliseconds) { m_connectTimeoutMs = milliseconds; }
int PageSession::OpenSession() { return 0; }
int PageSession::CloseSession() { return 1; }
int PageSession::OpenPageRequest(const QString&, const QString&) { return 1; }
int PageSession::FetchPage(const QString&, const QString&, QString&) { return -2; }
