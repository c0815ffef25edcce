#include "store/PostgresEngine.h"

#include "store/PostgresConnection.h"
#include "store/Layout.h"
#include "store/Tables.h"

#include <QRegularExpression>

namespace aquilevel::store {

PostgresEngine::PostgresEngine(ServerSettings settings, int lockTimeoutMs)
    : m_settings(std::move(settings)), m_lockTimeoutMs(lockTimeoutMs)
{
}

PostgresEngine::~PostgresEngine() = default;

Connection& PostgresEngine::open(bool)
{
    if (m_connection && !m_connection->usable())
        m_connection.reset();
    if (!m_connection) {
        auto connection = PostgresConnection::open(m_settings, m_lockTimeoutMs);
        if (!m_layoutChecked) {
            upgradeServer(*connection);
            try {
                if (layoutVersion(*connection) >= kSchemaVersion)
                    fillMissingKeys(*connection);
            } catch (const EngineError& error) {
                // A station's role may not change the configuration: its rows stay as
                // they are until the administrator's next command fills them.
                if (error.kind() == ErrorClass::LostHandle)
                    throw;
            }
            m_layoutChecked = true;
        }
        m_connection = std::move(connection);
    }
    return *m_connection;
}

void PostgresEngine::discard()
{
    m_connection.reset();
}

namespace {

bool tablesPresent(PostgresConnection& connection)
{
    return connection
               .value(Sql("SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                          "AND table_name IN ('tblSetup', 'datExperimentTrials', 'aquilevelSchema')"))
               .toInt() > 0;
}

} // namespace

void PostgresEngine::upgradeServer(PostgresConnection& connection)
{
    if (!tablesPresent(connection))
        return;
    const int version = layoutVersion(connection);
    if (version >= kSchemaVersion)
        return;
    // Only the owner of the tables may change them; a station that meets an older
    // layout says what to do rather than fail in the middle of a session.
    connection.execute(QStringLiteral("BEGIN"));
    try {
        connection.execute(QStringLiteral("LOCK TABLE \"aquilevelSchema\" IN EXCLUSIVE MODE"));
        // The upgrade makes the holds' table anew: the stations' roles keep their rights.
        const Rows holders = connection.query(
            Sql("SELECT DISTINCT grantee::text FROM information_schema.role_table_grants WHERE table_name = "
                "'datSessionHold' AND privilege_type = 'INSERT' AND grantee::text <> current_user"));
        upgradeLayout(connection, layoutVersion(connection));
        for (const QVariantList& role : holders.values)
            connection.execute(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON \"datSessionHold\" TO %1")
                                   .arg(quotedName(role.value(0).toString())));
        connection.commit();
    } catch (const EngineError& error) {
        connection.rollback();
        if (error.kind() == ErrorClass::LostHandle || error.kind() == ErrorClass::LockConflict)
            throw;
        throw EngineError(ErrorClass::Other, error.number(),
                          QStringLiteral("The tables on %1 are of an older layout (%2) and could not be brought up to "
                                         "date as this user: %3. Run any aquilevel command once as the tables' owner.")
                              .arg(m_settings.describe())
                              .arg(version)
                              .arg(error.description()));
    }
}

bool PostgresEngine::holdsTables()
{
    auto connection = PostgresConnection::open(m_settings, m_lockTimeoutMs);
    return tablesPresent(*connection);
}

void PostgresEngine::createStationRole(const ServerSettings& settings, const QString& role)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,62}$"));
    if (!plain.match(role).hasMatch())
        throw ServerSettingsError(QStringLiteral("\"%1\" is no role name: letters, digits and _ only.").arg(role));
    auto connection = PostgresConnection::open(settings, kLockTimeoutMs);
    // A role name cannot be a bound value; it is checked above and quoted.
    const QString who = quotedName(role);
    const QVariant exists = connection->value(Sql("SELECT count(*) FROM pg_roles WHERE rolname = $1"), {role});
    connection->execute(QStringLiteral("BEGIN"));
    try {
        if (exists.toInt() == 0)
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

void PostgresEngine::create(const std::function<void(Connection&)>& fill)
{
    auto connection = PostgresConnection::open(m_settings, m_lockTimeoutMs);
    if (tablesPresent(*connection))
        throw StoreError(QStringLiteral("The database of %1 already holds the experiment's tables; nothing was changed.")
                             .arg(m_settings.describe()));
    connection->begin(true);
    try {
        createLayout(*connection);
        if (fill)
            fill(*connection);
        connection->commit();
    } catch (...) {
        connection->rollback();
        throw;
    }
}

} // namespace aquilevel::store
