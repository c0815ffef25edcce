#include "session/Resume.h"

#include "config/ExperimentSetup.h"
#include "config/NumberFormat.h"
#include "session/Session.h"
#include "store/EngineError.h"
#include "store/Query.h"
#include "store/Store.h"

#include <cmath>
#include <limits>
#include <optional>

namespace aquilevel {

const QString kEventLogTable = QStringLiteral("datExperimentTrials");

namespace {

const QString kGettingLastTrial = QStringLiteral("Getting last trial");

// The table name comes from the program, never from a person; it is pasted into the SQL
// text, so anything but a plain identifier is a fault in the caller.
QString checkedTable(const QString& table)
{
    if (!store::Query(table).isTableName())
        throw std::invalid_argument(
            QStringLiteral("\"%1\" is not the name of a table").arg(table).toStdString());
    return table;
}

// Reads the fields of the current row of a record set, turning every field that cannot
// be read into a ResumeError that names the participant, the version and the field.
class RowReader {
public:
    RowReader(store::RecordSet& rows, const SessionState& state, const QString& table,
              QString where = {})
        : m_rows(rows), m_state(state), m_table(table), m_where(std::move(where)) {}

    double real(const char* name)
    {
        const QVariant v = value(name);
        if (v.isNull())
            fail(name, QStringLiteral("is empty"));
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            fail(name, QStringLiteral("holds \"%1\", which is not a number").arg(v.toString()));
        return d;
    }

    // Whole numbers take a real value rounded halves-to-even, as every whole number read
    // from a real is, and must fit the counter they go into.
    template <typename Int>
    Int whole(const char* name)
    {
        const double d = real(name);
        const double rounded = config::roundHalfEven(d);
        constexpr auto low = std::numeric_limits<Int>::min();
        constexpr auto high = std::numeric_limits<Int>::max();
        if (rounded < low || rounded > high)
            fail(name, QStringLiteral("holds %1, outside the whole numbers it can hold (%2 to %3)")
                           .arg(config::generalNumber(d))
                           .arg(low)
                           .arg(high));
        return static_cast<Int>(rounded);
    }

    // Yes only when the stored value is exactly 1; the log leaves a flag that is off at
    // the column's default.
    bool yesNo(const char* name) { return config::isYes(value(name)); }

private:
    QVariant value(const char* name)
    {
        try {
            return m_rows.field(QString::fromLatin1(name));
        } catch (const store::StoreError&) {
            fail(name, QStringLiteral("is missing from the table"));
        }
    }

    [[noreturn]] void fail(const char* name, const QString& problem)
    {
        const QString field = QString::fromLatin1(name);
        throw ResumeError(m_state.Subject, m_state.Version, m_table, field,
                          m_where.isEmpty() ? problem : m_where + QLatin1Char(' ') + problem);
    }

    store::RecordSet& m_rows;
    const SessionState& m_state;
    QString m_table;
    QString m_where;
};

// Everything taken from the newest row, read in full before any of it is assigned.
struct SavedState {
    qint16 Trial = 0;
    qint32 EventID = 0;
    double CurrentCost = 0;
    double TotCost = 0;
    double CurrentBonus = 0;
    double TotBonus = 0;
    double BonusAmount = 0;
    double TotalBackOrder = 0;
    double TotalForwardDischarge = 0;
    double AmountInTank = 0;
    bool IsUserInFlow = false;
    bool IsUserOutFlow = false;
    bool IsEnvInFlow = false;
    bool IsEnvOutFlow = false;
    bool graphicalMode = false;
    bool IsTimeDriven = false;
    bool IsBonusOnTimeGap = false;
    double TimeBetweenEnvTries = 0;
    double deltaTmeBetweenEnvUsr = 0;
};

SavedState readSavedState(RowReader& r)
{
    SavedState saved;
    saved.Trial = r.whole<qint16>("Trial");
    saved.EventID = r.whole<qint32>("EventID");
    saved.CurrentCost = r.real("CurrentCost");
    saved.TotCost = r.real("TotCost");
    saved.CurrentBonus = r.real("CurrentBonus");
    saved.TotBonus = r.real("TotBonus");
    saved.BonusAmount = r.real("BonusAmount");
    saved.TotalBackOrder = r.real("TotalBackOrder");
    saved.TotalForwardDischarge = r.real("TotalForwardDischarge");
    saved.AmountInTank = r.real("AmountInTank");
    saved.IsUserInFlow = r.yesNo("IsUserInFlow");
    saved.IsUserOutFlow = r.yesNo("IsUserOutFlow");
    saved.IsEnvInFlow = r.yesNo("IsEnvInFlow");
    saved.IsEnvOutFlow = r.yesNo("IsEnvOutFlow");
    saved.graphicalMode = r.yesNo("graphicalMode");
    saved.IsTimeDriven = r.yesNo("IsTimeDriven");
    saved.IsBonusOnTimeGap = r.yesNo("IsBonusOnTimeGap");
    saved.TimeBetweenEnvTries = r.real("TimeBetweenEnvTries");
    saved.deltaTmeBetweenEnvUsr = r.real("deltaTmeBetweenEnvUsr");
    return saved;
}

void applySavedState(SessionState& s, const SavedState& saved)
{
    s.EventID = saved.EventID;
    TankState& tank = s.tank;
    tank.CurrentCost = saved.CurrentCost;
    tank.TotCost = saved.TotCost;
    tank.CurrentBonus = saved.CurrentBonus;
    tank.TotBonus = saved.TotBonus;
    tank.TotalBackOrder = saved.TotalBackOrder;
    tank.TotalForwardDischarge = saved.TotalForwardDischarge;
    tank.AmountInTank = saved.AmountInTank;
    tank.IsUserInFlow = saved.IsUserInFlow;
    tank.IsUserOutFlow = saved.IsUserOutFlow;
    tank.IsEnvInFlow = saved.IsEnvInFlow;
    tank.IsEnvOutFlow = saved.IsEnvOutFlow;
    // The session keeps the mode, bonus rule and timing it was started with.
    config::ExperimentSetup& setup = s.setup;
    setup.BonusAmount = saved.BonusAmount;
    setup.graphicalMode = saved.graphicalMode;
    setup.IsTimeDriven = saved.IsTimeDriven;
    setup.IsBonusOnTimeGap = saved.IsBonusOnTimeGap;
    setup.TimeBetweenEnvTries = saved.TimeBetweenEnvTries;
    setup.deltaTmeBetweenEnvUsr = saved.deltaTmeBetweenEnvUsr;
}

// The latest order of one flow in one period. Ties of EventID go to the row stored last.
double latestOrder(Session& session, const QString& table, qint32 trial, const char* column)
{
    if (table.isEmpty())
        return 0;
    const SessionState& s = session.state;
    const QString sql = QStringLiteral("SELECT \"%1\" FROM \"%2\" WHERE Subject = ? AND Version = ? "
                                       "AND Trial = ? ORDER BY EventID DESC, rowid DESC LIMIT 1")
                            .arg(QString::fromLatin1(column), checkedTable(table));
    store::Store& store = session.store();
    auto rs = store.OpenTable(store::Query(sql, {s.Subject, s.Version, trial}), true,
                              kGettingLastTrial);
    double order = 0;
    if (!rs->isEOF()) {
        rs->moveFirst();
        RowReader r(*rs, s, table, QStringLiteral("of period %1").arg(trial));
        order = r.real(column);
    }
    rs->close();
    return order;
}

} // namespace

ResumeError::ResumeError(const QString& participant, const QString& version, const QString& table,
                         const QString& field, const QString& problem)
    : std::runtime_error(QStringLiteral("The saved state of participant \"%1\" in version \"%2\" "
                                        "cannot be read: %3, field %4 %5.")
                             .arg(participant, version, table, field, problem)
                             .toStdString()),
      m_participant(participant), m_version(version), m_table(table), m_field(field)
{
}

QList<LoggedEvent> LoggedEvents(Session& session)
{
    const SessionState& s = session.state;
    store::Store& store = session.store();
    auto rs = store.OpenTable(
        store::Query(QStringLiteral("select Trial, eventType, UserInFlow, UserOutFlow, Time from "
                                    "%1 where Subject = ? and Version = ? "
                                    "order by EventID, rowid")
                         .arg(kEventLogTable),
                     {s.Subject, s.Version}),
        true, QStringLiteral("Getting last trial"));
    QList<LoggedEvent> events;
    for (; !rs->isEOF(); rs->moveNext()) {
        events.append({rs->field(QStringLiteral("Trial")).toInt(),
                       rs->field(QStringLiteral("eventType")).toString(),
                       rs->field(QStringLiteral("UserInFlow")).toDouble(),
                       rs->field(QStringLiteral("UserOutFlow")).toDouble(),
                       QTime::fromString(rs->field(QStringLiteral("Time")).toString(),
                                         QStringLiteral("HH:mm:ss"))});
    }
    rs->close();
    return events;
}

bool HasLoggedEvents(Session& session, const QString& status)
{
    const SessionState& s = session.state;
    auto rs = session.store().OpenTable(
        store::Query(QStringLiteral("select Subject from %1 where Subject=? and Version=? limit 1").arg(kEventLogTable),
                     {s.Subject, s.Version}),
        true, status);
    const bool any = !rs->isEOF();
    rs->close();
    return any;
}

qint32 RestoreLastState(Session& session, const QString& table)
{
    if (table.isEmpty())
        return 0;
    SessionState& s = session.state;
    const QString sql = QStringLiteral("SELECT * FROM \"%1\" WHERE Subject = ? AND Version = ? "
                                       "ORDER BY EventID DESC, rowid DESC LIMIT 1")
                            .arg(checkedTable(table));
    store::Store& store = session.store();
    auto rs = store.OpenTable(store::Query(sql, {s.Subject, s.Version}), true, kGettingLastTrial);
    std::optional<SavedState> saved;
    if (!rs->isEOF()) {
        rs->moveFirst();
        RowReader r(*rs, s, table);
        saved = readSavedState(r);
    }
    rs->close();
    if (!saved)
        return 0;
    applySavedState(s, *saved);
    return saved->Trial;
}

double GetUserInFlow(Session& session, const QString& table, qint32 trial)
{
    return latestOrder(session, table, trial, "UserInFlow");
}

double GetUserOutFlow(Session& session, const QString& table, qint32 trial)
{
    return latestOrder(session, table, trial, "UserOutFlow");
}

void ReloadPendingOrders(Session& session)
{
    SessionState& s = session.state;
    TankState& tank = s.tank;
    const qint32 trial = s.Trial;
    const qint32 inDelay = s.setup.inFlowTPAfter;
    const qint32 outDelay = s.setup.outFlowTPAfter;
    // A period past the arrays (a session already over) has no order left to deliver.
    const auto reload = [&](QVector<double>& orders, qint32 t, auto get) {
        if (t >= 0 && t < orders.size())
            orders[t] = get(session, kEventLogTable, t);
    };
    if (trial - outDelay <= 0 || trial - inDelay <= 0) {
        // Stopped within the first delay: every period so far may still be on its way.
        for (qint32 t = trial; t >= 1; --t)
            reload(tank.UserInFlow, t, GetUserInFlow);
        for (qint32 t = trial; t >= 1; --t)
            reload(tank.UserOutFlow, t, GetUserOutFlow);
    } else {
        for (qint32 i = inDelay - 1; i >= 0; --i)
            reload(tank.UserInFlow, trial - i, GetUserInFlow);
        for (qint32 i = outDelay - 1; i >= 0; --i)
            reload(tank.UserOutFlow, trial - i, GetUserOutFlow);
    }
}

} // namespace aquilevel
