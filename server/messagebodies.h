#pragma once

#include "clock.h"
#include "database.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

// A message's bytes as they arrive, kept nowhere for good until
// MessageBodies::keep() takes them; dropped again when destroyed otherwise.
class IncomingBody {
public:
    virtual ~IncomingBody() = default;
    // Runs on an event thread: takes the bytes without waiting on anything
    // but a buffered file write.
    virtual bool write(const char* data, std::size_t size) = 0;
    std::uint64_t size() const { return m_size; }
    // Whether bytes wait to be stored by flushFull() on a page thread before
    // more are taken.
    virtual bool wantsFlush() const { return false; }
    // Stores what is ready to be stored; false when that failed.
    virtual bool flushFull() { return true; }

protected:
    std::uint64_t m_size = 0;
};

// Reads a kept body from any offset, a piece at a time: a download never
// holds a whole message.
class StoredBodyReader {
public:
    virtual ~StoredBodyReader() = default;
    // Up to max bytes from offset; 0 at the end, -1 when the body is gone.
    virtual std::int64_t read(std::uint64_t offset, char* buffer, std::size_t max) = 0;
};

// Where the bytes of waiting messages live, each under a key the queue's
// entry names: files in the message folder (one server on SQLite), or rows
// in the database itself (PostgreSQL, so that servers sharing it keep no
// state of their own).
class MessageBodies {
public:
    virtual ~MessageBodies() = default;

    // Makes the place ready; false with a reason.
    virtual bool prepare(std::string* error) = 0;
    virtual std::unique_ptr<IncomingBody> receive(std::string* error) = 0;
    // Makes the body durable under a new key. False with a reason; the
    // body is then gone.
    virtual bool keep(std::unique_ptr<IncomingBody> body, std::string* key, std::string* error) = 0;
    virtual void remove(const std::string& key) = 0;
    // Null when there is no such body.
    virtual std::unique_ptr<StoredBodyReader> open(const std::string& key) = 0;
    virtual bool exists(const std::string& key) = 0;
    // Removes the bodies that are not in `known` and cannot be arriving
    // still. Returns how many went.
    virtual int sweep(const std::set<std::string>& known) = 0;
};

std::unique_ptr<MessageBodies> makeFolderBodies(std::filesystem::path folder);
std::unique_ptr<MessageBodies> makeDatabaseBodies(Database& db, std::shared_ptr<Clock> clock);
