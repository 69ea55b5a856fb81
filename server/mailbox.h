#pragma once

#include "clock.h"

#include <chrono>
#include <cstddef>
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
//
// Each address keeps only its newest keptPerRecipient files: anyone can ask
// for mail to any registered address, and a stream of such requests must
// not fill the disk. Only the newest mailed password works anyway.
class MailBox {
public:
    static constexpr std::size_t kKeptPerRecipient = 5;

    MailBox(std::filesystem::path folder, std::shared_ptr<Clock> clock,
            std::size_t keptPerRecipient = kKeptPerRecipient);

    // Creates the folder if needed. False with a reason when it cannot.
    bool prepare(std::string* error);
    // Writes the message atomically, then removes the recipient's oldest
    // files beyond the bound. False with a reason when it cannot write.
    bool send(const MailMessage& message, std::string* error = nullptr);

    const std::filesystem::path& folder() const { return m_folder; }

    static std::string fileName(std::chrono::system_clock::time_point when,
                                std::string_view recipient);

private:
    std::chrono::system_clock::time_point nextStamp();
    void keepNewest(std::string_view recipient);

    std::filesystem::path m_folder;
    std::shared_ptr<Clock> m_clock;
    std::mutex m_mutex;
    std::chrono::system_clock::time_point m_lastStamp;
    const std::size_t m_kept;
    // One clean-up at a time, so two never count the same files.
    std::mutex m_cleanUpMutex;
};
