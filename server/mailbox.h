#pragma once

#include "clock.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct MailMessage {
    std::string to;
    std::string subject;
    std::string body;
};

// "Sends" mail by dropping one text file per message into a folder. Names
// start with the UTC time to the microsecond, so sorting names sorts
// messages by age, and end with the recipient's ID in lower case:
// "20261208-153012-000123-alice@example.org.txt".
class MailBox {
public:
    MailBox(std::filesystem::path folder, std::shared_ptr<Clock> clock);

    // Creates the folder if needed. False with a reason when it cannot.
    bool prepare(std::string* error);
    // Writes the message atomically. False with a reason when it cannot.
    bool send(const MailMessage& message, std::string* error = nullptr);

    const std::filesystem::path& folder() const { return m_folder; }

    static std::string fileName(std::chrono::system_clock::time_point when,
                                std::string_view recipient);

private:
    std::chrono::system_clock::time_point nextStamp();

    std::filesystem::path m_folder;
    std::shared_ptr<Clock> m_clock;
    std::mutex m_mutex;
    std::chrono::system_clock::time_point m_lastStamp;
};
