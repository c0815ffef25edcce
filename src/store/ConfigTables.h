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
};

class ScenarioTable {
public:
    // The rows of one scenario (Scenario, Trial, inFlowRateEnviron, outFlowRateEnviron),
    // in the order written.
    static QList<Row> rows(Connection& c, const QVariant& scenario);
};

class LabelTable {
public:
    // The version's captions (LabelName, possibly Null), by LabelNumber, rising or falling.
    static QVariantList captions(Connection& c, const QString& version, bool rising = true);
    // The version's rows, in the order written.
    static QList<Row> rows(Connection& c, const QString& version);
};

// The experimenters' accounts, which open the exit of a running session. A user name is
// compared without regard to case.
class PasswordTable {
public:
    struct Account {
        QString username;
        QVariant password;
    };
    static QList<Account> accounts(Connection& c);
    // The password of the user's first row; none when there is no such account, invalid
    // when the row holds none.
    static std::optional<QVariant> password(Connection& c, const QString& user);
    // Sets the password of every row of the user, or adds the account; returns the rows
    // changed (0 for an added one).
    static qint64 setPassword(Connection& c, const QString& user, const QString& password);
    // Deletes every row of the user; returns how many.
    static qint64 remove(Connection& c, const QString& user);
};

} // namespace aquilevel::store
