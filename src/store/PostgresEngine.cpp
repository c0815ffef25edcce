#include "store/PostgresEngine.h"

#include "store/PostgresConnection.h"
#include "store/Schema.h"

namespace aquilevel::store {

PostgresEngine::PostgresEngine(ServerSettings settings, int lockTimeoutMs)
    : m_settings(std::move(settings)), m_lockTimeoutMs(lockTimeoutMs)
{
}

PostgresEngine::~PostgresEngine() = default;

const PostgresDialect& PostgresEngine::dialect()
{
    static const PostgresDialect schema(schemaStatements());
    return schema;
}

Connection& PostgresEngine::open(bool)
{
    if (m_connection && !m_connection->usable())
        m_connection.reset();
    if (!m_connection)
        m_connection = PostgresConnection::open(m_settings, dialect(), m_lockTimeoutMs);
    return *m_connection;
}

void PostgresEngine::discard()
{
    m_connection.reset();
}

void PostgresEngine::create(const ServerSettings& settings, const std::function<void(Connection&)>& fill)
{
    auto connection = PostgresConnection::open(settings, dialect(), kLockTimeoutMs);
    const Rows present = connection->select(
        Query(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                             "AND table_name IN ('tblSetup', 'datExperimentTrials', 'aquilevelSchema')")),
        false);
    if (present.values.value(0).value(0).toInt() > 0)
        throw ServerSettingsError(QStringLiteral("The database of %1 already holds the experiment's tables; nothing was changed.")
                                      .arg(settings.describe()));
    connection->execute(QStringLiteral("BEGIN"));
    try {
        for (const QString& statement : dialect().createStatements(kSchemaVersion))
            connection->execute(statement);
        if (fill)
            fill(*connection);
        connection->commit();
    } catch (...) {
        connection->rollback();
        throw;
    }
}

} // namespace aquilevel::store
