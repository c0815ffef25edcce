#pragma once

#include "store/Row.h"

#include <QStringList>

#include <optional>

namespace aquilevel::store {

class Connection;

// The configuration an experimenter writes (import) and the sessions read. A version is
// found by its key, so "Demo Continuous" finds "Demo continuous" on either engine. Rows
// come as Row, since every value is checked field by field where it is used: a person
// wrote it. Rows are added through appendRow (TableRows.h).

class SetupTable {
public:
    // The versions' names, in the order of their keys.
    static QStringList versions(Connection& c);
    // The version's row; none when there is no such version.
    static std::optional<Row> row(Connection& c, const QString& version);
    // Every version's row, or the one asked for.
    static QList<Row> rows(Connection& c, const QString& version = {});
    // The versions that play a scenario, in the order they were written.
    static QStringList versionsUsing(Connection& c, const QVariant& scenario);
    // Replaces the version's row by `row` (shown columns by name; its key follows from
    // its Version), in the caller's transaction.
    static void replace(Connection& c, const QString& version, const Row& row);
};

class ScenarioTable {
public:
    // The rows of one scenario (Scenario, Trial, inFlowRateEnviron, outFlowRateEnviron),
    // in the order written.
    static QList<Row> rows(Connection& c, const QVariant& scenario);
    // Replaces every row of the scenario by `rows`, in the order given, in the caller's
    // transaction: every version that plays it plays them.
    static void replace(Connection& c, const QVariant& scenario, const QList<Row>& rows);
};

class LabelTable {
public:
    // The version's captions (LabelName, possibly Null), by LabelNumber, rising or falling.
    static QVariantList captions(Connection& c, const QString& version, bool rising = true);
    // The version's rows, in the order written.
    static QList<Row> rows(Connection& c, const QString& version);
    // Replaces the version's rows by `rows` (version, LabelNumber, LabelName), in the
    // order given, in the caller's transaction.
    static void replace(Connection& c, const QString& version, const QList<Row>& rows);
};

// A version's own instruction pages, one page a row; a version without rows is shown
// the program's own pages.
class InstructionTable {
public:
    // The version's page texts (possibly Null), by PageNumber, in the order written
    // within one number.
    static QVariantList pages(Connection& c, const QString& version);
    // The version's rows, in the order written.
    static QList<Row> rows(Connection& c, const QString& version);
};

// The experimenters' accounts, which open the exit of a running session. A user name is
// compared without regard to case. Passwords are stored as hashes (PasswordHash.h); a
// value in plain text is an account an older program wrote, and still counts.
class PasswordTable {
public:
    struct Account {
        QString username;
        QVariant password;
    };
    // What is stored, for the administrator's commands (a station on the server has no
    // right to read it).
    static QList<Account> accounts(Connection& c);
    // The stored password (hash or plain text) of the user's first row; none when there
    // is no such account, invalid when the row holds none.
    static std::optional<QVariant> password(Connection& c, const QString& user);
    // True when `typed` is the password of the user's first row; false for an unknown
    // user and for a row without a password. On the server the station learns only the
    // hash's setting and the server compares, so the stored password never reaches the
    // station and the typed one never reaches the server.
    static bool matches(Connection& c, const QString& user, const QString& typed);
    // Sets the password of every row of the user to `hash` (made by hashPassword, before
    // the transaction: hashing takes a quarter of a second), or adds the account; returns
    // the rows changed (0 for an added one). Throws StoreError for anything but a hash.
    static qint64 setPassword(Connection& c, const QString& user, const QString& hash);
    // Deletes every row of the user; returns how many.
    static qint64 remove(Connection& c, const QString& user);
};

} // namespace aquilevel::store
