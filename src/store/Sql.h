#pragma once

#include <QString>

namespace aquilevel::store {

// The two SQL engines the program runs on.
enum class Dialect { SQLite, Postgres };

// One statement, written for each engine where the engines differ. Both texts quote
// names ("Subject") and number their parameters ($1, $2, ...), which both engines read
// the same way, so most statements are one text for both.
class Sql {
public:
    Sql(const char* both) : m_sqlite(QString::fromUtf8(both)), m_postgres(m_sqlite) {}
    Sql(QString both) : m_sqlite(std::move(both)), m_postgres(m_sqlite) {}
    Sql(QString sqlite, QString postgres) : m_sqlite(std::move(sqlite)), m_postgres(std::move(postgres)) {}

    const QString& in(Dialect dialect) const { return dialect == Dialect::SQLite ? m_sqlite : m_postgres; }

private:
    QString m_sqlite;
    QString m_postgres;
};

// Quotes a name for either engine.
inline QString quotedName(const QString& name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace aquilevel::store
