#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How much work each password hash costs. Interactive is the real setting;
// the minimum keeps test runs fast. A hash records its own cost, so either
// setting checks hashes made with the other.
enum class HashStrength { Interactive, Minimum };

// Salted slow hashes (argon2id strings); the plain password is never stored.
class PasswordHasher {
public:
    explicit PasswordHasher(HashStrength strength);

    // Throws std::runtime_error when the memory for hashing is not there.
    std::string hash(std::string_view password) const;
    static bool verify(const std::string& hash, std::string_view password);

private:
    unsigned long long m_opsLimit;
    std::size_t m_memLimit;
};

// Longest password accepted anywhere; the client allows 16 characters for a
// new password, other clients may allow more.
inline constexpr std::size_t kMaxPasswordLength = 128;

// 1 to kMaxPasswordLength bytes with no control characters (a control
// character cannot be typed into the password field and would only make the
// mailed text unreadable).
bool isAcceptablePassword(std::string_view password);

// A fresh random password for mailing: letters and digits without the ones
// easily misread (0/O, 1/l/I).
std::string generatePassword();
