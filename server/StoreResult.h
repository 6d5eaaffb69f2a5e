#pragma once

#include <optional>
#include <utility>

// How a storage operation ended. Callers tell a missing record (part of the protocol) from a
// storage failure (never answered as success or as another protocol meaning).
enum class StoreStatus {
    Ok,
    Missing, // the user has no such record (or grant, or account)
    Taken, // the value must be unique and is in use (an account's address)
    Refused, // a limit of the account (its quota) does not allow it
    NoSpace, // the disk is full
    Failed, // any other failure of the storage
};

// A value, or the reason there is none.
template<typename T> class StoreResult final
{
public:
    StoreResult(T value)
        : m_status(StoreStatus::Ok)
        , m_value(std::move(value))
    { }
    StoreResult(StoreStatus status)
        : m_status(status)
    { }

    StoreStatus status() const { return m_status; }
    bool ok() const { return m_status == StoreStatus::Ok; }
    explicit operator bool() const { return ok(); }
    // The storage itself failed, as opposed to an answer about the user's data.
    bool failed() const { return m_status == StoreStatus::NoSpace || m_status == StoreStatus::Failed; }

    const T &operator*() const { return *m_value; }
    T &operator*() { return *m_value; }
    const T *operator->() const { return &*m_value; }
    T *operator->() { return &*m_value; }

private:
    StoreStatus m_status;
    std::optional<T> m_value;
};

// An operation without a value.
struct StoreDone {
};
