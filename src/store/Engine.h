#pragma once

#include "store/EngineError.h"
#include "store/Query.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace aquilevel::store {

using FieldValues = QList<QPair<QString, QVariant>>;

// Rows read at once into memory; rowIds are filled only when asked for.
struct Rows {
    QStringList columns;
    QList<QVariantList> values;
    QList<qint64> rowIds;
};

// One open database of an engine. Every method may throw EngineError.
class Connection {
public:
    virtual ~Connection() = default;
    // Column names of a table, in table order.
    virtual QStringList columns(const QString& table) = 0;
    // Runs a SELECT text. With withRowIds the text must read whole rows of one table
    // ("select * from T ..."), so that each row can be written back.
    virtual Rows select(const Query& query, bool withRowIds) = 0;
    // Appends one row and commits it before returning.
    virtual void insert(const QString& table, const FieldValues& values) = 0;
    // Changes one row and commits it before returning.
    virtual void update(const QString& table, qint64 rowId, const FieldValues& values) = 0;
    // Deletes the rows of a table that meet a condition whose values are bound to its
    // "?" placeholders, and commits unless a transaction is open.
    virtual void remove(const QString& table, const QString& /*condition*/,
                        const QVariantList& /*values*/)
    {
        throw StoreError(QStringLiteral("This engine cannot delete rows of %1").arg(table));
    }
    // One transaction over several statements. A read transaction sees one committed
    // state of the data from its first read to its end; a write transaction takes the
    // write lock at once, and the writes in it are kept together at commit or not at all.
    virtual void begin(bool /*write*/)
    {
        throw StoreError(QStringLiteral("This engine has no transactions"));
    }
    virtual void commit() { throw StoreError(QStringLiteral("This engine has no transactions")); }
    // Ends an open transaction without keeping its writes; does nothing when none is open.
    virtual void rollback() {}
    // True while a transaction begun here is open (a failed statement may have ended it).
    virtual bool inTransaction() const { return false; }
};

// A database engine behind the store. A second engine (a database server for labs with
// many computers) implements this interface; the store and its callers stay as they are.
class Engine {
public:
    virtual ~Engine() = default;
    // Where the data lives, for messages.
    virtual QString location() const = 0;
    // Opens the database (or hands back a still-valid open one). May throw EngineError.
    virtual Connection& open(bool readOnly) = 0;
    // The caller is done with the database until its next open.
    virtual void release() = 0;
    // The handle is no longer trustworthy: drop it, so the next open starts afresh.
    virtual void discard() = 0;
};

} // namespace aquilevel::store
