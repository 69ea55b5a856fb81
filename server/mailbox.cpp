#include "mailbox.h"

#include "atomicfile.h"
#include "userid.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// fileName()'s "20261208-153012-000123" before "-<id>.txt".
constexpr std::size_t kStampLength = 22;
constexpr char kSender[] = "Ostrand Accounts <accounts@ostrand.example>";

std::tm utcParts(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    return parts;
}

std::string dateHeader(std::chrono::system_clock::time_point when) {
    const std::tm parts = utcParts(when);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &parts);
    return text;
}
} // namespace

MailBox::MailBox(std::filesystem::path folder, std::shared_ptr<Clock> clock,
                 std::size_t keptPerRecipient)
    : m_folder(std::move(folder)), m_clock(std::move(clock)),
      m_kept(std::max<std::size_t>(keptPerRecipient, 1)) {}

bool MailBox::prepare(std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(m_folder, ec);
    if (ec || !std::filesystem::is_directory(m_folder)) {
        if (error)
            *error = "cannot create the mail folder " + m_folder.string() + ": " +
                     (ec ? ec.message() : "not a folder");
        return false;
    }
    // Mail holds passwords in plain text: for the owner's eyes only.
    ::chmod(m_folder.c_str(), 0700);
    return true;
}

bool MailBox::send(const MailMessage& message, std::string* error) {
    const auto stamp = nextStamp();
    std::string text;
    text += "From: " + std::string(kSender) + "\n";
    text += "To: " + message.to + "\n";
    text += "Date: " + dateHeader(stamp) + "\n";
    text += "Subject: " + message.subject + "\n\n";
    text += message.body;
    if (!text.ends_with('\n'))
        text += '\n';
    if (!writeFileAtomically(m_folder / fileName(stamp, message.to), text, error))
        return false;
    keepNewest(message.to);
    return true;
}

void MailBox::keepNewest(std::string_view recipient) {
    // Matching the whole length keeps "x-bob@..." apart from "bob@...".
    const std::string suffix = "-" + userIdKey(recipient) + ".txt";
    std::lock_guard guard(m_cleanUpMutex);
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() == kStampLength + suffix.size() && name.ends_with(suffix))
            names.push_back(std::move(name));
    }
    if (names.size() <= m_kept)
        return;
    std::sort(names.begin(), names.end());
    for (std::size_t i = 0; i + m_kept < names.size(); ++i)
        ::unlink((m_folder / names[i]).c_str());
}

std::string MailBox::fileName(std::chrono::system_clock::time_point when,
                              std::string_view recipient) {
    const std::tm parts = utcParts(when);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count() %
        1000000;
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d-%06lld", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<long long>(micros));
    return std::string(stamp) + "-" + userIdKey(recipient) + ".txt";
}

// Two messages never share a stamp, so neither overwrites the other and the
// name order is the order of sending even within one microsecond.
std::chrono::system_clock::time_point MailBox::nextStamp() {
    std::lock_guard guard(m_mutex);
    auto stamp = std::chrono::time_point_cast<std::chrono::microseconds>(m_clock->wallNow());
    if (stamp <= m_lastStamp)
        stamp = std::chrono::time_point_cast<std::chrono::microseconds>(m_lastStamp) +
                std::chrono::microseconds(1);
    m_lastStamp = stamp;
    return stamp;
}
