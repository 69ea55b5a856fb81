#include "routes.h"

void Routes::get(const std::string& path, PageHandler handler) {
    m_get[path] = Route{std::move(handler), {}, {}};
}

void Routes::getDeferred(const std::string& path, DeferredHandler handler) {
    m_get[path] = Route{{}, {}, std::move(handler)};
}

void Routes::post(const std::string& path, BodyHandler handler) {
    m_post[path] = Route{{}, std::move(handler), {}};
}

const Routes::Route* Routes::find(const std::string& method, const std::string& path) const {
    const auto& table = method == "POST" ? m_post : m_get;
    if (method != "POST" && method != "GET" && method != "HEAD")
        return nullptr;
    const auto it = table.find(path);
    return it == table.end() ? nullptr : &it->second;
}
