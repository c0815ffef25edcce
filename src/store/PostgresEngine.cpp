#include "store/PostgresEngine.h"

#include "store/PostgresConnection.h"
#include "store/Layout.h"
#include "store/StationRules.h"
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
        nameHolder();
    }
    return *m_connection;
}

void PostgresEngine::setHolder(const QString& holder)
{
    m_holder = holder;
    if (m_connection && m_connection->usable())
        nameHolder();
}

// The session names this run's holder, which the stations' rules compare with a hold's.
void PostgresEngine::nameHolder()
{
    if (!m_holder.isEmpty())
        m_connection->value(Sql("SELECT set_config($1, $2, false)"), {QString::fromLatin1(kHolderSetting), m_holder});
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
        // The upgrade makes the holds' table and the stations' rules anew: the stations'
        // roles keep (or are brought to) a station's rights.
        const QStringList stations = stationRoles(connection);
        upgradeLayout(connection, layoutVersion(connection));
        for (const QString& role : stations)
            grantStationRights(connection, role);
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
    // The tables brought up to date first: the rights given are those of today's layout.
    PostgresEngine(settings).open(false);
    auto connection = PostgresConnection::open(settings, kLockTimeoutMs);
    // A role name cannot be a bound value; it is checked above and quoted.
    const QVariant exists = connection->value(Sql("SELECT count(*) FROM pg_roles WHERE rolname = $1"), {role});
    // Taking the owner's rights away would lock the administrator out: refused before
    // anything is revoked (what else a role could still do is asked after the grants).
    if (exists.toInt() > 0 &&
        connection
            ->value(Sql("SELECT pg_has_role(r.oid, t.tableowner, 'USAGE') FROM pg_roles r, pg_tables t WHERE "
                        "r.rolname = $1 AND t.schemaname = current_schema() AND t.tablename = 'tblSetup'"),
                    {role})
            .toBool())
        throw ServerSettingsError(QStringLiteral("The role %1 owns the tables: the server would not limit it to a "
                                                 "station's work. Name another role for the stations.")
                                      .arg(role));
    connection->execute(QStringLiteral("BEGIN"));
    try {
        if (exists.toInt() == 0)
            connection->execute(QStringLiteral("CREATE ROLE %1 LOGIN").arg(quotedName(role)));
        grantStationRights(*connection, role);
        // What its attributes or memberships still allow, the server cannot take away here.
        if (const QStringList beyond = stationRightsBeyond(*connection, role); !beyond.isEmpty())
            throw ServerSettingsError(QStringLiteral("The role %1 still %2, through its attributes or the roles it is a "
                                                     "member of: the server would not hold it to a station's work. "
                                                     "Name a role without them; nothing was changed.")
                                          .arg(role, beyond.join(QStringLiteral(", "))));
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
