#pragma once

#include "store/Engine.h"
#include "store/SqlCipherEngine.h"

#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

namespace aquilevel::test {

// A fresh encrypted experiment database in a folder of its own, removed afterwards.
class TempDatabase {
public:
    enum class Content { Empty, Demo };
    explicit TempDatabase(Content content = Content::Empty);

    QString folder() const { return m_dir.path(); }
    QString path() const;

    // An engine on the file; busyTimeoutMs 0 reports a lock conflict at once.
    std::unique_ptr<store::SqlCipherEngine> engine(int busyTimeoutMs = 0) const;

    // Runs one statement with values bound to its $1, $2, ... on a connection of its
    // own, to set up or inspect data behind the store's back.
    void exec(const QString& sql, const QVariantList& values = {}) const;
    // The first column of every row of a query.
    QVariantList column(const QString& sql, const QVariantList& values = {}) const;
    // Every row of a query, its values by column name.
    QList<QVariantMap> rows(const QString& sql, const QVariantList& values = {}) const;
    // Appends a row as the program does (keys, time and station filled in); columns not
    // in the map are left Null.
    void append(const QString& table, const QVariantMap& row) const;

private:
    QTemporaryDir m_dir;
};

// The rows of a query result, their values by column name.
QList<QVariantMap> byName(const store::Rows& rows);
// A query of a test's own on a connection (values bound to $1, $2, ...), to check what
// was stored, by column name.
QList<QVariantMap> rowsIn(store::Connection& connection, const QString& sql, const QVariantList& values = {});
// Appends a row on a connection as the program does (keys, time and station filled in).
void appendTo(store::Connection& connection, const QString& table, const QVariantMap& row);

// The statements that made an empty file of an older layout (1, 3, 6 or 7), user_version last.
QStringList olderLayout(int version);

// A complete tblSetup row for `version` that passes every check; tests change fields.
QVariantMap soundSetupRow(const QString& version);
// Inserts a setup row (fields not in the map are left Null).
void insertSetup(const TempDatabase& db, const QVariantMap& row);
// Inserts numMarks labels "10", "20", ... and scenario rows 0..periods for a version.
void insertLabels(const TempDatabase& db, const QString& version, int count);
void insertScenario(const TempDatabase& db, int scenario, int firstPeriod, int lastPeriod,
                    double inRate = 2, double outRate = 1);

} // namespace aquilevel::test
