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

PasswordHashingBusy::PasswordHashingBusy()
    : std::runtime_error("too many password checks at once; try again shortly") {}

HashingGate::HashingGate(Limits limits) : m_limits(limits) {}

void HashingGate::enter() {
    std::unique_lock lock(m_mutex);
    if (m_running < std::max(m_limits.concurrent, 1) && m_waiting == 0) {
        ++m_running;
        return;
    }
    if (m_waiting >= m_limits.waiting)
        throw PasswordHashingBusy();
    const std::uint64_t place = m_nextPlace++;
    ++m_waiting;
    m_turn.wait(lock, [&] {
        return place == m_nowServing && m_running < std::max(m_limits.concurrent, 1);
    });
    --m_waiting;
    ++m_nowServing;
    ++m_running;
    // The next in line may find a place free too.
    m_turn.notify_all();
}

void HashingGate::leave() {
    {
        std::lock_guard guard(m_mutex);
        --m_running;
    }
    m_turn.notify_all();
}

int HashingGate::running() const {
    std::lock_guard guard(m_mutex);
    return m_running;
}

int HashingGate::waiting() const {
    std::lock_guard guard(m_mutex);
    return m_waiting;
}

PasswordHasher::PasswordHasher(HashStrength strength)
    : PasswordHasher(strength, HashingGate::Limits{}) {}

PasswordHasher::PasswordHasher(HashStrength strength, HashingGate::Limits limits)
    : m_opsLimit(strength == HashStrength::Interactive ? crypto_pwhash_OPSLIMIT_INTERACTIVE
                                                       : crypto_pwhash_OPSLIMIT_MIN),
      m_memLimit(strength == HashStrength::Interactive ? crypto_pwhash_MEMLIMIT_INTERACTIVE
                                                       : crypto_pwhash_MEMLIMIT_MIN),
      m_gate(std::make_unique<HashingGate>(limits)) {
    initialiseSodium();
}

std::string PasswordHasher::hash(std::string_view password) const {
    return m_gate->run([&] {
        char out[crypto_pwhash_STRBYTES];
        if (crypto_pwhash_str(out, password.data(), password.size(), m_opsLimit, m_memLimit) != 0)
            throw std::runtime_error("not enough memory to hash a password");
        return std::string(out);
    });
}

bool PasswordHasher::verify(const std::string& hash, std::string_view password) const {
    return m_gate->run([&] {
        return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
    });
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
