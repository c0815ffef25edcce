#include "store/PostgresEngine.h"

#include "store/PostgresConnection.h"
#include "store/Schema.h"

#include <QRegularExpression>

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

namespace {

bool tablesPresent(PostgresConnection& connection)
{
    const Rows present = connection.select(
        Query(QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                             "AND table_name IN ('tblSetup', 'datExperimentTrials', 'aquilevelSchema')")),
        false);
    return present.values.value(0).value(0).toInt() > 0;
}

} // namespace

bool PostgresEngine::holdsTables(const ServerSettings& settings)
{
    auto connection = PostgresConnection::open(settings, dialect(), kLockTimeoutMs);
    return tablesPresent(*connection);
}

void PostgresEngine::createStationRole(const ServerSettings& settings, const QString& role)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,62}$"));
    if (!plain.match(role).hasMatch())
        throw ServerSettingsError(QStringLiteral("\"%1\" is no role name: letters, digits and _ only.").arg(role));
    auto connection = PostgresConnection::open(settings, dialect(), kLockTimeoutMs);
    // A role name cannot be a bound value; it is checked above and quoted.
    const QString who = pgQuoted(role);
    const Rows exists = connection->select(Query(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = ?"), {role}), false);
    connection->execute(QStringLiteral("BEGIN"));
    try {
        if (exists.values.value(0).value(0).toInt() == 0)
            connection->execute(QStringLiteral("CREATE ROLE %1 LOGIN").arg(who));
        const QStringList statements = {
            QStringLiteral("GRANT USAGE ON SCHEMA public TO %1"),
            QStringLiteral("GRANT SELECT ON \"tblSetup\", \"tblScenarios\", \"tblLabels\", \"tblPasswords\", "
                           "\"aquilevelSchema\" TO %1"),
            QStringLiteral("GRANT SELECT, INSERT ON \"datSubject\", \"datExperimentTrials\", \"datTrialSummary\", "
                           "\"datUserTimesSummary\", \"datQuestionnaire\" TO %1"),
            QStringLiteral("GRANT UPDATE ON \"datTrialSummary\" TO %1"),
            QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON \"datSessionHold\" TO %1"),
        };
        for (const QString& statement : statements)
            connection->execute(statement.arg(who));
        connection->commit();
    } catch (...) {
        connection->rollback();
        throw;
    }
}

void PostgresEngine::create(const ServerSettings& settings, const std::function<void(Connection&)>& fill)
{
    auto connection = PostgresConnection::open(settings, dialect(), kLockTimeoutMs);
    if (tablesPresent(*connection))
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
