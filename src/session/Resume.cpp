#include "session/Resume.h"

#include "config/ExperimentSetup.h"
#include "config/NumberFormat.h"
#include "session/Session.h"
#include "store/EngineError.h"
#include "store/DataTables.h"
#include "store/Store.h"

#include <QCoreApplication>

#include <cmath>
#include <limits>
#include <optional>

namespace aquilevel {

const QString kEventLogTable = QStringLiteral("datExperimentTrials");

namespace {

const QString kGettingLastTrial = QStringLiteral("Getting last trial");

// The saved state lives in the event log; another table is a fault in the caller.
void checkedTable(const QString& table)
{
    if (table != kEventLogTable)
        throw std::invalid_argument(
            QStringLiteral("\"%1\" is not the event log").arg(table).toStdString());
}

// Reads the fields of the current row of a record set, turning every field that cannot
// be read into a ResumeError that names the participant, the version and the field.
class RowReader {
public:
    RowReader(const store::Row& rows, const SessionState& state, const QString& table,
              QString where = {})
        : m_rows(rows), m_state(state), m_table(table), m_where(std::move(where)) {}

    double real(const char* name)
    {
        const QVariant v = value(name);
        if (v.isNull())
            fail(name, QCoreApplication::translate("Resume", "is empty"));
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            fail(name, QCoreApplication::translate("Resume", "holds \"%1\", which is not a number").arg(v.toString()));
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
            fail(name, QCoreApplication::translate("Resume", "holds %1, outside the whole numbers it can hold (%2 to %3)")
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
            return m_rows.value(name);
        } catch (const store::StoreError&) {
            fail(name, QCoreApplication::translate("Resume", "is missing from the table"));
        }
    }

    [[noreturn]] void fail(const char* name, const QString& problem)
    {
        const QString field = QString::fromLatin1(name);
        throw ResumeError(m_state.Subject, m_state.Version, m_table, field,
                          m_where.isEmpty() ? problem : m_where + QLatin1Char(' ') + problem);
    }

    const store::Row& m_rows;
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
    checkedTable(table);
    const SessionState& s = session.state;
    std::optional<store::Row> row;
    session.store().read([&](store::Connection& c) { row = store::EventTable::newestOfPeriod(c, s.Subject, s.Version, trial); },
                         table, kGettingLastTrial);
    if (!row)
        return 0;
    RowReader r(*row, s, table, QCoreApplication::translate("Resume", "of period %1").arg(trial));
    return r.real(column);
}

} // namespace

ResumeError::ResumeError(const QString& participant, const QString& version, const QString& table,
                         const QString& field, const QString& problem)
    //: %3 the table, %4 the field, %5 what is wrong with it ("is empty", "of period 3 is empty").
    : std::runtime_error(QCoreApplication::translate("Resume",
                                                     "The saved state of participant \"%1\" in version \"%2\" "
                                                     "cannot be read: %3, field %4 %5.")
                             .arg(participant, version, table, field, problem)
                             .toStdString()),
      m_participant(participant), m_version(version), m_table(table), m_field(field)
{
}

QList<LoggedEvent> LoggedEvents(Session& session)
{
    const SessionState& s = session.state;
    QList<LoggedEvent> events;
    const QStringList columns = {QStringLiteral("Trial"), QStringLiteral("eventType"), QStringLiteral("UserInFlow"),
                                 QStringLiteral("UserOutFlow"), QStringLiteral("Time")};
    session.store().read(
        [&](store::Connection& c) {
            events.clear();
            store::EventTable::forEach(c, columns, s.Version, s.Subject, QString(), [&](const store::Row& row) {
                events.append({row.value("Trial").toInt(), row.value("eventType").toString(),
                               row.value("UserInFlow").toDouble(), row.value("UserOutFlow").toDouble(),
                               QTime::fromString(row.value("Time").toString(), QStringLiteral("HH:mm:ss"))});
            });
        },
        kEventLogTable, kGettingLastTrial);
    return events;
}

bool HasLoggedEvents(Session& session, const QString& status)
{
    const SessionState& s = session.state;
    bool any = false;
    session.store().read([&](store::Connection& c) { any = store::EventTable::any(c, s.Subject, s.Version); },
                         kEventLogTable, status);
    return any;
}

qint32 RestoreLastState(Session& session, const QString& table)
{
    if (table.isEmpty())
        return 0;
    checkedTable(table);
    SessionState& s = session.state;
    std::optional<store::Row> row;
    session.store().read([&](store::Connection& c) { row = store::EventTable::newest(c, s.Subject, s.Version); }, table,
                         kGettingLastTrial);
    if (!row)
        return 0;
    RowReader r(*row, s, table);
    const SavedState saved = readSavedState(r);
    applySavedState(s, saved);
    return saved.Trial;
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
