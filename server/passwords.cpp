#include "passwords.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace {
constexpr std::size_t kGeneratedLength = 12;
constexpr char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";

void initialiseSodium() {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}
} // namespace

PasswordHasher::PasswordHasher(HashStrength strength)
    : m_opsLimit(strength == HashStrength::Interactive ? crypto_pwhash_OPSLIMIT_INTERACTIVE
                                                       : crypto_pwhash_OPSLIMIT_MIN),
      m_memLimit(strength == HashStrength::Interactive ? crypto_pwhash_MEMLIMIT_INTERACTIVE
                                                       : crypto_pwhash_MEMLIMIT_MIN) {
    initialiseSodium();
}

std::string PasswordHasher::hash(std::string_view password) const {
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), m_opsLimit, m_memLimit) != 0)
        throw std::runtime_error("not enough memory to hash a password");
    return out;
}

bool PasswordHasher::verify(const std::string& hash, std::string_view password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool isAcceptablePassword(std::string_view password) {
    if (password.empty() || password.size() > kMaxPasswordLength)
        return false;
    return std::none_of(password.begin(), password.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

std::string generatePassword() {
    initialiseSodium();
    std::string password;
    for (std::size_t i = 0; i < kGeneratedLength; ++i)
        password += kAlphabet[randombytes_uniform(sizeof kAlphabet - 1)];
    return password;
}
