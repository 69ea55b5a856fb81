#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

// How much work each password hash costs. Interactive is the real setting;
// the minimum keeps test runs fast. A hash records its own cost, so either
// setting checks hashes made with the other.
enum class HashStrength { Interactive, Minimum };

// The answer to a hash or a check when too many wait for their turn: the
// caller should ask the client to try again shortly. Not a lack of memory
// and not a wrong password; catch it before std::runtime_error.
class PasswordHashingBusy : public std::runtime_error {
public:
    PasswordHashingBusy();
};

// Each hash takes tens of megabytes and a core for a while, so only a few
// run at once; a flood of sign-ins would otherwise exhaust the memory. The
// next callers wait their turn in arrival order, and when `waiting` callers
// wait already a new one is turned away at once rather than piling up
// threads behind the others.
class HashingGate {
public:
    struct Limits {
        int concurrent = 2;
        int waiting = 32;
    };

    explicit HashingGate(Limits limits);

    // Runs work once its turn comes and returns what it returns. Throws
    // PasswordHashingBusy, without running it, when the queue is full.
    template <typename Work> auto run(Work&& work) -> decltype(work()) {
        Turn turn(*this);
        return work();
    }

    int running() const;
    int waiting() const;

private:
    class Turn {
    public:
        explicit Turn(HashingGate& gate) : m_gate(gate) { m_gate.enter(); }
        ~Turn() { m_gate.leave(); }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        HashingGate& m_gate;
    };
    void enter();
    void leave();

    const Limits m_limits;
    mutable std::mutex m_mutex;
    std::condition_variable m_turn;
    int m_running = 0;
    int m_waiting = 0;
    // Waiting callers take a place in line and go in that order.
    std::uint64_t m_nextPlace = 0;
    std::uint64_t m_nowServing = 0;
};

// Salted slow hashes (argon2id strings); the plain password is never stored.
// Hashes and checks share one HashingGate.
class PasswordHasher {
public:
    explicit PasswordHasher(HashStrength strength);
    PasswordHasher(HashStrength strength, HashingGate::Limits limits);

    // Both throw PasswordHashingBusy when too many hashes wait already.
    // hash() throws std::runtime_error when the memory for hashing is not
    // there.
    std::string hash(std::string_view password) const;
    bool verify(const std::string& hash, std::string_view password) const;

    HashingGate& gate() const { return *m_gate; }

private:
    unsigned long long m_opsLimit;
    std::size_t m_memLimit;
    std::unique_ptr<HashingGate> m_gate;
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
