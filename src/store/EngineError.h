#pragma once

#include <QString>
#include <stdexcept>

namespace aquilevel::store {

// The four ways an access can fail, each with its own retry rule.
enum class ErrorClass {
    LockConflict,     // another copy holds a lock: back off and retry, asking after ten tries
    ConcurrentChange, // the data changed under us at that moment: retry at once
    LostHandle,       // the database handle is gone: start the open over
    Other             // anything else: ask whether to retry
};

// A failure reported by a database engine, already classified.
class EngineError : public std::runtime_error {
public:
    EngineError(ErrorClass kind, int number, const QString& description)
        : std::runtime_error(description.toStdString()), m_kind(kind), m_number(number),
          m_description(description) {}

    ErrorClass kind() const { return m_kind; }
    int number() const { return m_number; }
    const QString& description() const { return m_description; }

private:
    ErrorClass m_kind;
    int m_number;
    QString m_description;
};

// A misuse of a record set by the program itself (an unknown field, an update without
// append or edit, a write to a snapshot). Not retried: it is a fault in the caller.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& what) : std::runtime_error(what.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Thrown when the person declined to retry and ending the session returned anyway
// (only a test's replacement of the process end returns); no record set is handed out.
class StoreAborted : public std::runtime_error {
public:
    StoreAborted() : std::runtime_error("database access abandoned") {}
};

} // namespace aquilevel::store
