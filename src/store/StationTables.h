#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace aquilevel::store {

class Connection;

// The stations' own bookkeeping.

// A station's hold of a participant of a version (datSessionHold).
struct HoldRow {
    QString Subject;
    QString Version;
    QString Station;
    QString Holder;      // the run of the program: "pid:machine:unique"
    QString TakenUtc;    // ISO 8601 with milliseconds
    QString RefreshedUtc;
};

class HoldTable {
public:
    static std::optional<HoldRow> find(Connection& c, const QString& subject, const QString& version);
    static void insert(Connection& c, const HoldRow& row);
    // Refreshes the hold when `holder` still has it; false when it does not.
    static bool refresh(Connection& c, const QString& subject, const QString& version, const QString& holder,
                        const QString& nowUtc);
    // Ends the hold; with a holder, only that holder's. Returns the rows ended.
    static qint64 remove(Connection& c, const QString& subject, const QString& version, const QString& holder = {});
    // Every hold, of one version or all.
    static QList<HoldRow> all(Connection& c, const QString& version = {});
};

} // namespace aquilevel::store
