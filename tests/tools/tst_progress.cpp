// The monitor, the payments and the console on one database with participants in every state.
#include "tools/ConsoleWindow.h"
#include "tools/Payments.h"
#include "tools/Progress.h"
#include "tools/StationsModel.h"
#include "tools/ToolCommand.h"

#include "support/Fakes.h"
#include "support/TempDatabase.h"
#include "support/ToolRun.h"

#include "store/DataRows.h"
#include "store/PasswordHash.h"
#include "store/StationTables.h"
#include "store/Store.h"
#include "store/Tables.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

using namespace aquilevel;

namespace {

// The "now" of every monitor test.
const QDateTime kNow(QDate(2026, 3, 4), QTime(10, 0, 5));

using Output = test::ToolResult;

Output call(const test::ToolFunction& run, const QString& folder, const QStringList& arguments)
{
    return test::runTool(run, folder, arguments);
}

// The data lines of an aligned table (after the dashes), each split into its cells at
// the columns the dashes mark, so that an empty cell stays in its place; empty cells at
// the end of a line are left out.
QList<QStringList> tableRows(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    int rule = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines.at(i).startsWith(QStringLiteral("---"))) {
            rule = i;
            break;
        }
    QList<QStringList> rows;
    if (rule < 0)
        return rows;
    QList<std::pair<int, int>> columns; // start, length
    for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("-+")).globalMatch(lines.at(rule)))
        columns.append({int(m.capturedStart()), int(m.capturedLength())});
    for (int i = rule + 1; i < lines.size() && !lines.at(i).isEmpty(); ++i) {
        QStringList cells;
        for (const auto& [start, length] : std::as_const(columns))
            cells.append(lines.at(i).mid(start, length).trimmed());
        while (!cells.isEmpty() && cells.last().isEmpty())
            cells.removeLast();
        rows.append(cells);
    }
    return rows;
}

} // namespace

class TestProgress : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void monitorShowsExactlyTheRecentParticipants();
    void monitorFiltersByVersion();
    void paymentsListsEveryParticipant();
    void paymentsCsvIsWellFormed();
    void paymentsFiltersByVersion();
    void paymentsFiltersByDay();
    void paySheet();
    void roundingUpNeverPaysLess_data();
    void roundingUpNeverPaysLess();
    void badUsageAndMissingDatabase();
    void theProgramRunsBothCommands();
    void formats();
    void stationsWithClocksThatAreOff_data();
    void stationsWithClocksThatAreOff();
    void consoleShowsTheLabAndWhatToPay();

private:
    void event(const QString& subject, const QString& version, const QString& type, int eventId, int trial,
               const QDateTime& at, double totBonus, double baseMoney, const QString& station = {});
    void registration(const QString& subject, const QString& version, const QDateTime& at);

    QList<QVariantMap> m_eventRows;
    QList<QVariantMap> m_registrationRows;
    test::TempDatabase m_db;
    test::FixedClock m_clock{kNow};
};

// Rows as the sessions write them: Date and Time on the lab's clock, EventTimeUtc the
// same moment in UTC. The Station column is mostly empty (the holds name the stations).
void TestProgress::event(const QString& subject, const QString& version, const QString& type, int eventId,
                         int trial, const QDateTime& at, double totBonus, double baseMoney, const QString& station)
{
    m_eventRows.append({{QStringLiteral("Subject"), subject},
                        {QStringLiteral("Version"), version},
                        {QStringLiteral("eventType"), type},
                        {QStringLiteral("EventID"), eventId},
                        {QStringLiteral("Trial"), trial},
                        {QStringLiteral("Date"), at.date().toString(Qt::ISODate)},
                        {QStringLiteral("Time"), at.time().toString(QStringLiteral("HH:mm:ss"))},
                        {QStringLiteral("CurrentCost"), 0.5},
                        {QStringLiteral("TotCost"), baseMoney + trial * 0.5},
                        {QStringLiteral("BaseMoney"), baseMoney},
                        {QStringLiteral("CurrentBonus"), 0},
                        {QStringLiteral("TotBonus"), totBonus},
                        {QStringLiteral("IsTimeDriven"), 0},
                        {QString::fromLatin1(store::kEventTimeColumn), at.toUTC().toString(Qt::ISODateWithMs)},
                        {QString::fromLatin1(store::kStationColumn), station.isEmpty() ? QVariant() : station}});
}

void TestProgress::registration(const QString& subject, const QString& version, const QDateTime& at)
{
    m_registrationRows.append({{QStringLiteral("Subject"), subject},
                               {QStringLiteral("Version"), version},
                               {QStringLiteral("Condition"), QStringLiteral("continuous")},
                               {QStringLiteral("Major"), QStringLiteral("Biology")},
                               {QStringLiteral("Gender"), QStringLiteral("Female")},
                               {QStringLiteral("Age"), 23},
                               {QStringLiteral("Date"), at.date().toString(Qt::ISODate)},
                               {QStringLiteral("Time"), at.time().toString(QStringLiteral("HH:mm:ss"))},
                               {QString::fromLatin1(store::kEventTimeColumn), at.toUTC().toString(Qt::ISODateWithMs)},
                               {QString::fromLatin1(store::kStationColumn), QVariant()}});
}

void TestProgress::initTestCase()
{
    QVariantMap alpha = test::soundSetupRow(QStringLiteral("Alpha"));
    alpha[QStringLiteral("MaxTrial")] = 10;
    alpha[QStringLiteral("BaseMoney")] = 5.0;
    alpha[QStringLiteral("CurrencySymbol")] = QStringLiteral("€");
    test::insertSetup(m_db, alpha);
    QVariantMap beta = test::soundSetupRow(QStringLiteral("Beta"));
    beta[QStringLiteral("MaxTrial")] = 4;
    beta[QStringLiteral("BaseMoney")] = 3.0;
    test::insertSetup(m_db, beta);
    const auto at = [](int h, int m, int s, int dayOffset = 0) {
        return QDateTime(kNow.date().addDays(dayOffset), QTime(h, m, s));
    };

    // ann (Alpha) finished two minutes ago; her first event row was written last, so
    // the newest row must be found by EventID, not by the order of writing.
    registration(QStringLiteral("ann"), QStringLiteral("Alpha"), at(9, 20, 0));
    event(QStringLiteral("ann"), QStringLiteral("Alpha"), QStringLiteral("Submit Clicked"), 40, 10, at(9, 57, 50), 9.0, 5);
    event(QStringLiteral("ann"), QStringLiteral("Alpha"), QStringLiteral("User Inflow"), 41, 10, at(9, 57, 55), 9.0, 5);
    event(QStringLiteral("ann"), QStringLiteral("Alpha"), QStringLiteral("After Cost Calculation"), 42, 10,
          at(9, 58, 0), 9.5, 5, QStringLiteral("lab-1"));
    event(QStringLiteral("ann"), QStringLiteral("Alpha"), QStringLiteral("Continue Clicked"), 0, 0, at(9, 25, 0), 5, 5);

    // bob (Alpha) is in period 6, last event 15 seconds ago.
    registration(QStringLiteral("bob"), QStringLiteral("Alpha"), at(9, 40, 0));
    event(QStringLiteral("bob"), QStringLiteral("Alpha"), QStringLiteral("Submit Clicked"), 20, 6, at(9, 59, 40), 7.25, 5);
    event(QStringLiteral("bob"), QStringLiteral("Alpha"), QStringLiteral("After Cost Calculation"), 21, 6,
          at(9, 59, 50), 7.75, 5);

    // carl (Alpha) is in the last period but its cost is not calculated yet.
    registration(QStringLiteral("carl"), QStringLiteral("Alpha"), at(9, 30, 0));
    event(QStringLiteral("carl"), QStringLiteral("Alpha"), QStringLiteral("User Outflow"), 33, 10, at(10, 0, 5), 6.5, 5);

    // dora (Alpha) finished yesterday at this time of day: outside the hour.
    registration(QStringLiteral("dora"), QStringLiteral("Alpha"), at(9, 0, 0, -1));
    event(QStringLiteral("dora"), QStringLiteral("Alpha"), QStringLiteral("After Cost Calculation"), 50, 10,
          at(9, 59, 59, -1), 12.0, 5, QStringLiteral("lab-7"));

    // eve (Alpha) stopped exactly an hour ago (still shown); finn one second earlier (not).
    registration(QStringLiteral("eve"), QStringLiteral("Alpha"), at(8, 30, 0));
    event(QStringLiteral("eve"), QStringLiteral("Alpha"), QStringLiteral("No User Effect"), 12, 3, at(9, 0, 5), 5.5, 5);
    registration(QStringLiteral("finn"), QStringLiteral("Alpha"), at(8, 30, 0));
    event(QStringLiteral("finn"), QStringLiteral("Alpha"), QStringLiteral("Environment Effect"), 8, 2, at(9, 0, 4), 5.0, 5);

    // A registered name with a comma and a quote, never started, long ago.
    registration(QStringLiteral("O\"Neil, Pat"), QStringLiteral("Alpha"), at(8, 0, 0, -2));

    // In Beta: Ann registered with a capital, her rows say "ann"; she finished 15 minutes
    // ago. fay registered half an hour ago and reads the instructions; gus long ago.
    registration(QStringLiteral("Ann"), QStringLiteral("Beta"), at(9, 20, 0));
    event(QStringLiteral("ann"), QStringLiteral("Beta"), QStringLiteral("After Cost Calculation"), 17, 4,
          at(9, 45, 0), 4.5, 3);
    registration(QStringLiteral("fay"), QStringLiteral("Beta"), at(9, 30, 0));
    registration(QStringLiteral("gus"), QStringLiteral("Beta"), at(14, 0, 0, -3));

    // Every row in one transaction: each transaction costs a commit. The rows and the
    // holds go in as the program writes them, with the keys they are found by.
    const auto engine = m_db.engine();
    store::Connection& connection = engine->open(false);
    connection.begin(true);
    for (const QVariantMap& row : std::as_const(m_eventRows))
        test::appendTo(connection, QStringLiteral("datExperimentTrials"), row);
    for (const QVariantMap& row : std::as_const(m_registrationRows))
        test::appendTo(connection, QStringLiteral("datSubject"), row);

    // The stations that hold a participant, and when each last refreshed its hold: eve's
    // stopped an hour ago. Everyone else who has not finished has left early.
    using Hold = std::tuple<const char*, const char*, const char*, int>;
    for (const auto& [subject, version, station, silentSeconds] :
         std::initializer_list<Hold>{{"bob", "Alpha", "lab-2", 5}, {"carl", "Alpha", "lab-3", 5},
                                     {"eve", "Alpha", "lab-4", 3600}, {"fay", "Beta", "lab-5", 5},
                                     {"nobody", "Beta", "lab-6", 5}})
        store::HoldTable::insert(connection, {QString::fromLatin1(subject), QString::fromLatin1(version),
                                              QString::fromLatin1(station), QStringLiteral("x"),
                                              kNow.toUTC().addSecs(-7200).toString(Qt::ISODateWithMs),
                                              kNow.toUTC().addSecs(-silentSeconds).toString(Qt::ISODateWithMs)});
    // What the stations say: lab-8 waits at the login, lab-9 stopped saying so a while ago
    // and lab-10 long ago; lab-2 has taken bob at its login; lab-11 restarted after a
    // session and waits; lab-12 plays.
    using Presence = std::tuple<const char*, const char*, const char*, int, int>; // run, station, state, started, silent
    for (const auto& [run, station, state, startedSeconds, silentSeconds] :
         std::initializer_list<Presence>{{"1:a:x", "lab-8", "login", 600, 5},      {"2:a:x", "lab-9", "login", 600, 120},
                                         {"3:a:x", "lab-10", "login", 9000, 7200}, {"4:a:x", "lab-2", "login", 60, 5},
                                         {"5:a:x", "lab-11", "session", 3000, 2000}, {"6:a:x", "lab-11", "login", 100, 3},
                                         {"7:a:x", "lab-12", "session", 100, 3}})
        store::PresenceTable::announce(connection, {QString::fromLatin1(run), QString::fromLatin1(station),
                                                    QString::fromLatin1(state), {}, {},
                                                    kNow.toUTC().addSecs(-startedSeconds).toString(Qt::ISODateWithMs),
                                                    kNow.toUTC().addSecs(-silentSeconds).toString(Qt::ISODateWithMs)});
    connection.commit();
    engine->release();
    QCOMPARE(m_db.column(QStringLiteral("select count(*) from \"datExperimentTrials\"")).value(0).toInt(), 11);
    QCOMPARE(m_db.column(QStringLiteral("select count(*) from \"datSubject\" where \"SubjectKey\" is not null "
                                        "and \"VersionKey\" is not null")).value(0).toInt(), 10);
}

void TestProgress::monitorShowsExactlyTheRecentParticipants()
{
    const auto run = [this](const QStringList& a, const tools::ToolContext& c) {
        return tools::runMonitor(a, c, m_clock, true);
    };
    const Output o = call(run, m_db.folder(), {QStringLiteral("--once")});
    QCOMPARE(o.status, 0);
    QVERIFY2(o.err.isEmpty(), qPrintable(o.err));
    // ann's rows name her station, Beta's no station; the held ones show the holding station.
    const QList<QStringList> expected = {
        {"Alpha", "ann", "lab-1", "10/10", "finished", "After Cost Calculation", "2m 05s", "9.50"},
        {"Alpha", "bob", "lab-2", "6/10", "idle", "After Cost Calculation", "15s", "7.75"},
        {"Alpha", "carl", "lab-3", "10/10", "playing", "User Outflow", "0s", "6.50"},
        {"Alpha", "eve", "lab-4", "3/10", "idle (possibly crashed)", "No User Effect", "1h 00m", "5.50"},
        {"Beta", "Ann", "", "4/4", "finished", "After Cost Calculation", "15m 05s", "4.50"},
        {"Beta", "fay", "lab-5", "0/4", "idle", "(registered)", "30m 05s", "3.00"},
    };
    QCOMPARE(tableRows(o.out), expected);
    QVERIFY2(o.out.contains(QStringLiteral("6 active, 2 finished, 1 possibly crashed")), qPrintable(o.out));
    QVERIFY2(o.out.contains(QStringLiteral("\nWaiting at the login: lab-11, lab-8, lab-9 (not responding)\n")),
             qPrintable(o.out));

    // Into a pipe: plain lines, one a participant, under the header.
    const Output plain = call([this](const QStringList& a, const tools::ToolContext& c) {
        return tools::runMonitor(a, c, m_clock, false);
    }, m_db.folder(), {QStringLiteral("--once")});
    const QStringList lines = plain.lines();
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.at(0), QStringLiteral("Version\tParticipant\tStation\tPeriod\tState\tLast event\tAgo\tMoney"));
    QCOMPARE(lines.at(4), QStringLiteral("Alpha\teve\tlab-4\t3/10\tidle (possibly crashed)\tNo User Effect\t1h 00m\t5.50"));

    // The columns line up: every line of the table has its "Ago" value ending where the
    // header's "Ago" ends.
    const QStringList table = o.out.split(QLatin1Char('\n'));
    const int header = table.indexOf(QRegularExpression(QStringLiteral("Version .*")));
    QVERIFY(header >= 0);
    const int agoEnd = int(table.at(header).indexOf(QStringLiteral("Ago"))) + 3;
    for (int i = header + 2; i < header + 2 + expected.size(); ++i)
        QVERIFY2(table.at(i).at(agoEnd - 1) != QLatin1Char(' ') && table.at(i).at(agoEnd) == QLatin1Char(' '),
                 qPrintable(table.at(i)));

    // Later, nobody is active any more.
    test::FixedClock later{kNow.addSecs(2 * 3600)};
    const Output none = call(
        [&](const QStringList& a, const tools::ToolContext& c) { return tools::runMonitor(a, c, later, true); },
        m_db.folder(), {QStringLiteral("--once")});
    QCOMPARE(none.status, 0);
    QVERIFY(tableRows(none.out).isEmpty());
    QVERIFY(none.out.contains(QStringLiteral("No participant has been active in the last hour.")));
}

void TestProgress::monitorFiltersByVersion()
{
    const auto run = [this](const QStringList& a, const tools::ToolContext& c) {
        return tools::runMonitor(a, c, m_clock, true);
    };
    const Output o = call(run, m_db.folder(), {QStringLiteral("--version"), QStringLiteral("beta"), QStringLiteral("--once")});
    QCOMPARE(o.status, 0);
    const QList<QStringList> rows = tableRows(o.out);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).value(1), QStringLiteral("Ann"));
    QCOMPARE(rows.at(1).value(1), QStringLiteral("fay"));

    const Output unknown = call(run, m_db.folder(), {QStringLiteral("--once"), QStringLiteral("--version=Gamma")});
    QCOMPARE(unknown.status, 1);
    QVERIFY2(unknown.err.contains(QStringLiteral("no version named \"Gamma\"")), qPrintable(unknown.err));
}

void TestProgress::paymentsListsEveryParticipant()
{
    const Output o = call(tools::paymentsCommand, m_db.folder(), {});
    QCOMPARE(o.status, 0);
    QVERIFY2(o.err.isEmpty(), qPrintable(o.err));
    // ann's first event is the one with the lowest EventID, though written last.
    const QList<QStringList> expected = {
        {"Alpha", "ann", "5.00", "4.50", "9.50", "yes", "", "lab-1", "2026-03-04", "09:25:00", "09:58:00"},
        {"Alpha", "bob", "5.00", "2.75", "7.75", "no", "", "lab-2", "2026-03-04", "09:59:40", "09:59:50"},
        {"Alpha", "carl", "5.00", "1.50", "6.50", "no", "", "lab-3", "2026-03-04", "10:00:05", "10:00:05"},
        {"Alpha", "dora", "5.00", "7.00", "12.00", "yes", "", "lab-7", "2026-03-03", "09:59:59", "09:59:59"},
        {"Alpha", "eve", "5.00", "0.50", "5.50", "no", "", "lab-4", "2026-03-04", "09:00:05", "09:00:05"},
        {"Alpha", "finn", "5.00", "0.00", "5.00", "no", "left early", "", "2026-03-04", "09:00:04", "09:00:04"},
        {"Alpha", "O\"Neil, Pat", "5.00", "0.00", "5.00", "no", "left early", "", "2026-03-02"},
        {"Beta", "Ann", "3.00", "1.50", "4.50", "yes", "", "", "2026-03-04", "09:45:00", "09:45:00"},
        {"Beta", "fay", "3.00", "0.00", "3.00", "no", "", "lab-5", "2026-03-04"},
        {"Beta", "gus", "3.00", "0.00", "3.00", "no", "left early", "", "2026-03-01"},
    };
    QCOMPARE(tableRows(o.out), expected);
    QVERIFY2(o.out.contains(QStringLiteral("10 participants (3 finished, 3 left early), total to pay 61.75")),
             qPrintable(o.out));
}

void TestProgress::paymentsCsvIsWellFormed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pay.csv"));
    const Output o = call(tools::paymentsCommand, m_db.folder(), {QStringLiteral("--csv"), path});
    QCOMPARE(o.status, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected = "Version,Subject,BasePay,Bonus,TotalPay,Finished,LeftEarly,Station,Date,FirstEvent,LastEvent\r\n"
                                "Alpha,ann,5.00,4.50,9.50,1,0,lab-1,2026-03-04,09:25:00,09:58:00\r\n"
                                "Alpha,bob,5.00,2.75,7.75,0,0,lab-2,2026-03-04,09:59:40,09:59:50\r\n"
                                "Alpha,carl,5.00,1.50,6.50,0,0,lab-3,2026-03-04,10:00:05,10:00:05\r\n"
                                "Alpha,dora,5.00,7.00,12.00,1,0,lab-7,2026-03-03,09:59:59,09:59:59\r\n"
                                "Alpha,eve,5.00,0.50,5.50,0,0,lab-4,2026-03-04,09:00:05,09:00:05\r\n"
                                "Alpha,finn,5.00,0.00,5.00,0,1,,2026-03-04,09:00:04,09:00:04\r\n"
                                "Alpha,\"O\"\"Neil, Pat\",5.00,0.00,5.00,0,1,,2026-03-02,,\r\n"
                                "Beta,Ann,3.00,1.50,4.50,1,0,,2026-03-04,09:45:00,09:45:00\r\n"
                                "Beta,fay,3.00,0.00,3.00,0,0,lab-5,2026-03-04,,\r\n"
                                "Beta,gus,3.00,0.00,3.00,0,1,,2026-03-01,,\r\n";
    QCOMPARE(file.readAll(), expected);

    // A file that cannot be written is a failure, not a crash.
    const Output bad = call(tools::paymentsCommand, m_db.folder(),
                            {QStringLiteral("--csv"), dir.filePath(QStringLiteral("no/such/folder/pay.csv"))});
    QCOMPARE(bad.status, 1);
    QVERIFY2(bad.err.contains(QStringLiteral("Cannot write")), qPrintable(bad.err));
}

void TestProgress::paymentsFiltersByVersion()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("beta.csv"));
    const Output o = call(tools::paymentsCommand, m_db.folder(),
                          {QStringLiteral("--version"), QStringLiteral("BETA"), QStringLiteral("--csv"), path});
    QCOMPARE(o.status, 0);
    const QList<QStringList> rows = tableRows(o.out);
    QCOMPARE(rows.size(), 3);
    for (const QStringList& row : rows)
        QCOMPARE(row.value(0), QStringLiteral("Beta"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), 4);

    const Output unknown = call(tools::paymentsCommand, m_db.folder(), {QStringLiteral("--version"), QStringLiteral("Gamma")});
    QCOMPARE(unknown.status, 1);
    QVERIFY(unknown.out.isEmpty());

    // Since a day: yesterday's and older participants are left out, today's kept.
    const Output today = call(tools::paymentsCommand, m_db.folder(),
                              {QStringLiteral("--version"), QStringLiteral("Alpha"), QStringLiteral("--since"),
                               kNow.date().toString(Qt::ISODate)});
    QCOMPARE(today.status, 0);
    QStringList names;
    for (const QStringList& row : tableRows(today.out))
        names.append(row.value(1));
    QVERIFY2(names.contains(QStringLiteral("ann")) && !names.contains(QStringLiteral("dora")) &&
                 !names.contains(QStringLiteral("O\"Neil, Pat")),
             qPrintable(names.join(QLatin1Char('|'))));
    QCOMPARE(call(tools::paymentsCommand, m_db.folder(), {QStringLiteral("--since"), QStringLiteral("4 March")}).status, 2);
}

void TestProgress::paymentsFiltersByDay()
{
    const auto names = [this](const QStringList& arguments) {
        const Output o = call(tools::paymentsCommand, m_db.folder(), arguments);
        QStringList found;
        for (const QStringList& row : tableRows(o.out))
            found.append(row.value(0) + QLatin1Char('/') + row.value(1));
        return o.status == 0 ? found : QStringList{o.err};
    };
    QCOMPARE(names({QStringLiteral("--day"), QStringLiteral("2026-03-03")}), QStringList{"Alpha/dora"});
    QCOMPARE(names({QStringLiteral("--day"), QStringLiteral("2026-03-04"), QStringLiteral("--version"), QStringLiteral("beta")}),
             (QStringList{"Beta/Ann", "Beta/fay"}));
    QCOMPARE(names({QStringLiteral("--day"), QStringLiteral("2026-03-05")}), QStringList{});

    // A session is paid once, on the day of its last row: past midnight, or taken up again
    // days after a crash.
    const QDate monday(2026, 3, 2);
    tools::ParticipantProgress late, resumed;
    late.subject = QStringLiteral("late");
    late.hasEvents = resumed.hasEvents = true;
    late.firstEventAt = QDateTime(monday, QTime(23, 50));
    late.lastEventAt = QDateTime(monday.addDays(1), QTime(0, 20));
    resumed.subject = QStringLiteral("resumed");
    resumed.firstEventAt = QDateTime(monday, QTime(10, 0));
    resumed.lastEventAt = QDateTime(monday.addDays(4), QTime(10, 30));
    QStringList paidOn;
    for (int d = 0; d < 5; ++d)
        for (const tools::ParticipantProgress& p : tools::sortOut({late, resumed}, {{}, {}, monday.addDays(d)}).paid)
            paidOn.append(QStringLiteral("%1:%2").arg(d).arg(p.subject));
    QCOMPARE(paidOn, (QStringList{"1:late", "4:resumed"}));
}

// The sheet of one day's Alpha session, in euros, rounded up to half a euro.
void TestProgress::paySheet()
{
    QTemporaryDir dir;
    const QString csvPath = dir.filePath(QStringLiteral("sheet.csv"));
    const QStringList day = {QStringLiteral("--day"), QStringLiteral("2026-03-04"), QStringLiteral("--version"),
                             QStringLiteral("Alpha"), QStringLiteral("--round-up"), QStringLiteral("0.5")};
    QCOMPARE(call(tools::paymentsCommand, m_db.folder(), day + QStringList{QStringLiteral("--sheet"), csvPath}).status, 0);
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.takeFirst(), QStringLiteral("Station,Participant,Version,Currency,BasePay,Bonus,Total,TotalRoundedUp,Note,Signature"));
    QCOMPARE(lines.first(), QStringLiteral(",finn,Alpha,€,5.00,0.00,5.00,5.00,left early,")); // by station, then name
    QVERIFY(lines.contains(QStringLiteral("lab-1,ann,Alpha,€,5.00,4.50,9.50,9.50,,")));
    // An amount not final yet says so.
    QVERIFY(lines.contains(QStringLiteral("lab-2,bob,Alpha,€,5.00,2.75,7.75,8.00,still playing,")));
    const QStringList sum = lines.takeLast().split(QLatin1Char(','));
    QCOMPARE(lines.size(), 5); // ann, bob, carl, eve, finn
    QCOMPARE(sum.mid(0, 4), (QStringList{"Sum", "", "", "€"}));
    for (int column : {4, 5, 6, 7}) {
        qint64 cents = 0;
        for (const QString& line : std::as_const(lines))
            cents += qRound64(line.split(QLatin1Char(',')).at(column).toDouble() * 100);
        QCOMPARE(qRound64(sum.at(column).toDouble() * 100), cents);
    }
    QCOMPARE(sum.at(6), QStringLiteral("34.25"));
    QCOMPARE(sum.at(7), QStringLiteral("34.50"));

    // Two currencies and amounts between cents: each sum adds its own lines as they are
    // shown, and counts its own participants.
    const auto person = [](const char* name, const char* symbol, double total) {
        tools::ParticipantProgress p;
        p.subject = QString::fromLatin1(name);
        p.currencySymbol = QString::fromUtf8(symbol);
        p.totBonus = total;
        p.finished = true;
        return p;
    };
    const tools::PaySheet mixed = tools::paySheet(
        {person("a", "€", 0.125), person("b", "€", 0.125), person("c", "$", 3.0)}, 1, QStringLiteral("mixed"));
    QCOMPARE(mixed.sums.size(), 2);
    for (const tools::SheetLine& sum : mixed.sums) {
        const bool euro = sum.symbol == QStringLiteral("€");
        QCOMPARE(sum.participants, euro ? 2 : 1);
        QCOMPARE(sum.total, euro ? 2 * tools::toCents(0.125) : 300);
    }

    const QString pdfPath = dir.filePath(QStringLiteral("sheet.pdf"));
    QCOMPARE(call(tools::paymentsCommand, m_db.folder(), day + QStringList{QStringLiteral("--sheet"), pdfPath}).status, 0);
    QFile pdf(pdfPath);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.size() > 2000);
    QVERIFY(pdf.read(4) == "%PDF");

    // A sheet is for one day, in a PDF or a CSV, rounded to whole cents.
    for (const QStringList& bad : {QStringList{QStringLiteral("--sheet"), pdfPath},
                                   day.mid(0, 2) + QStringList{QStringLiteral("--sheet"), dir.filePath("x.txt")},
                                   day.mid(0, 4) + QStringList{QStringLiteral("--round-up"), QStringLiteral("0.005"),
                                                               QStringLiteral("--sheet"), csvPath},
                                   day.mid(0, 2) + QStringList{QStringLiteral("--round-up"), QStringLiteral("1")}})
        QCOMPARE(call(tools::paymentsCommand, m_db.folder(), bad).status, 2);
}

void TestProgress::roundingUpNeverPaysLess_data()
{
    QTest::addColumn<double>("amount");
    QTest::addColumn<qint64>("unit");
    QTest::addColumn<qint64>("paid");
    QTest::newRow("5.10 to 0.1 stays") << 5.10 << qint64(10) << qint64(510);
    QTest::newRow("5.11 to 0.5") << 5.11 << qint64(50) << qint64(550);
    QTest::newRow("5.00 to 1 stays") << 5.00 << qint64(100) << qint64(500);
    QTest::newRow("0.001 to cents") << 0.001 << qint64(1) << qint64(1);
    QTest::newRow("0.1 + 0.2 to 0.3") << 0.1 + 0.2 << qint64(10) << qint64(30);
}

void TestProgress::roundingUpNeverPaysLess()
{
    QFETCH(double, amount);
    QFETCH(qint64, unit);
    QFETCH(qint64, paid);
    QCOMPARE(tools::roundUpCents(amount, unit), paid);
    QCOMPARE(tools::formatCents(paid), QString::number(paid / 100.0, 'f', 2));
}

void TestProgress::badUsageAndMissingDatabase()
{
    const auto monitor = [this](const QStringList& a, const tools::ToolContext& c) {
        return tools::runMonitor(a, c, m_clock, true);
    };
    const QList<QStringList> badMonitor = {
        {QStringLiteral("--onse")}, {QStringLiteral("--version")}, {QStringLiteral("--once"), QStringLiteral("extra")},
        {QStringLiteral("--version="), QStringLiteral("--once")}};
    for (const QStringList& arguments : badMonitor) {
        const Output o = call(monitor, m_db.folder(), arguments);
        QCOMPARE(o.status, 2);
        QVERIFY2(o.err.contains(QStringLiteral("Usage:")), qPrintable(arguments.join(' ')));
    }
    const QList<QStringList> badPayments = {
        {QStringLiteral("--cvs"), QStringLiteral("x.csv")}, {QStringLiteral("--csv")}, {QStringLiteral("Alpha")}};
    for (const QStringList& arguments : badPayments)
        QCOMPARE(call(tools::paymentsCommand, m_db.folder(), arguments).status, 2);

    const Output help = call(tools::paymentsCommand, m_db.folder(), {QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Usage: aquilevel [--data DIR] payments")));
    QCOMPARE(call(monitor, m_db.folder(), {QStringLiteral("--help")}).status, 0);

    QTemporaryDir empty;
    const Output noMonitor = call(monitor, empty.path(), {QStringLiteral("--once")});
    QCOMPARE(noMonitor.status, 1);
    QVERIFY2(noMonitor.err.contains(QStringLiteral("no experiment database")), qPrintable(noMonitor.err));
    const Output noPayments = call(tools::paymentsCommand, empty.path(), {});
    QCOMPARE(noPayments.status, 1);
    QVERIFY2(noPayments.err.contains(QStringLiteral("no experiment database")), qPrintable(noPayments.err));
}

void TestProgress::theProgramRunsBothCommands()
{
    const QString program = qEnvironmentVariable("AQUILEVEL_TEST_BIN") + QStringLiteral("/aquilevel");
    if (!QFile::exists(program))
        QSKIP("the program is not built");
    const auto run = [](const QStringList& arguments) {
        const test::ToolResult result = test::runProgram(arguments);
        return std::make_pair(result.status, result.out);
    };
    const auto [paid, table] = run({QStringLiteral("--data"), m_db.folder(), QStringLiteral("payments")});
    QCOMPARE(paid, 0);
    QCOMPARE(tableRows(table).size(), 10);
    QCOMPARE(run({QStringLiteral("monitor"), QStringLiteral("--data"), m_db.folder(), QStringLiteral("--once")}).first, 0);
    QCOMPARE(run({QStringLiteral("--data"), m_db.folder(), QStringLiteral("monitor"), QStringLiteral("--bogus")}).first, 2);
    QTemporaryDir empty;
    QCOMPARE(run({QStringLiteral("--data"), empty.path(), QStringLiteral("payments")}).first, 1);
}

void TestProgress::formats()
{
    QCOMPARE(tools::formatMoney(12.5), QStringLiteral("12.50"));
    QCOMPARE(tools::formatMoney(-0.001), QStringLiteral("0.00"));
    QCOMPARE(tools::formatMoney(2.675001), QStringLiteral("2.68"));
    QCOMPARE(tools::formatAgo(0), QStringLiteral("0s"));
    QCOMPARE(tools::formatAgo(-4), QStringLiteral("0s"));
    QCOMPARE(tools::formatAgo(59), QStringLiteral("59s"));
    QCOMPARE(tools::formatAgo(60), QStringLiteral("1m 00s"));
    QCOMPARE(tools::formatAgo(3599), QStringLiteral("59m 59s"));
    QCOMPARE(tools::formatAgo(3600 + 5 * 60 + 9), QStringLiteral("1h 05m"));
}

// Two readings of the console, ten seconds and then seventy apart: a station's stamps
// are of its own clock. A refreshing station is alive whatever its clock says; one that
// stopped is seen to stand still.
void TestProgress::stationsWithClocksThatAreOff_data()
{
    QTest::addColumn<bool>("waiting");     // at the login, else a participant held
    QTest::addColumn<int>("clockOff");     // seconds the station's clock is behind
    QTest::addColumn<bool>("refreshing");  // its stamp moves on between the readings
    QTest::addColumn<QStringList>("states");
    const QStringList idle = {"idle", "idle", "idle"};
    QTest::newRow("held, clock right") << false << 0 << true << idle;
    QTest::newRow("held, clock 5 min behind") << false << 300 << true
                                              << QStringList{"idle (possibly crashed)", "idle", "idle"};
    QTest::newRow("held, clock 5 min ahead") << false << -300 << true << idle;
    QTest::newRow("held, crashed") << false << 0 << false
                                   << QStringList{"idle", "idle", "idle (possibly crashed)"};
    QTest::newRow("held, crashed, clock behind") << false << 300 << false
                                                 << QStringList(3, "idle (possibly crashed)");
    QTest::newRow("waiting, clock 5 min behind") << true << 300 << true
                                                 << QStringList{"not responding", "waiting at the login",
                                                                "waiting at the login"};
    QTest::newRow("waiting, stopped") << true << 0 << false
                                      << QStringList{"waiting at the login", "waiting at the login", "not responding"};
}

void TestProgress::stationsWithClocksThatAreOff()
{
    QFETCH(bool, waiting);
    QFETCH(int, clockOff);
    QFETCH(bool, refreshing);
    QFETCH(QStringList, states);
    tools::StationsModel model;
    const QDateTime start = kNow.toUTC();
    QStringList seen;
    for (const int at : {0, 10, 80}) {
        const QDateTime now = start.addSecs(at);
        // The station refreshed two seconds before each reading, by its own clock.
        const QDateTime stamp = (refreshing ? now : start).addSecs(-2 - clockOff);
        tools::ParticipantProgress p;
        tools::WaitingStation w{QStringLiteral("lab-3"), start.addSecs(-600), stamp};
        if (!waiting) {
            p = {QStringLiteral("Alpha"), QStringLiteral("ann"), true, 10, true, 3};
            p.lastEventAt = start.addSecs(-120);
            p.held = true;
            p.holdRefreshed = stamp;
        }
        model.setParticipants(waiting ? QList<tools::ParticipantProgress>{} : QList{p}, now,
                              waiting ? QList{w} : QList<tools::WaitingStation>{});
        QCOMPARE(model.rowCount(), 1);
        seen.append(model.state(0));
    }
    QCOMPARE(seen, states);
}

void TestProgress::consoleShowsTheLabAndWhatToPay()
{
    tools::ToolStore tool(m_db.folder());
    tools::ConsoleWindow window(tool.store(), [] { return kNow; }, 3600 * 1000);
    window.refresh();
    // Today's participants and whoever a station still holds, each in its state and colour.
    const tools::StationsModel& stations = window.stations();
    // The stations nobody is logged in at come after them, by their names.
    const auto statesNow = [&] {
        QMap<QString, QString> states;
        for (int row = 0; row < stations.rowCount(); ++row) {
            const auto cell = [&](int column) {
                return stations.data(stations.index(row, column), Qt::DisplayRole).toString();
            };
            states.insert(stations.isWaiting(row) ? cell(tools::StationsModel::Station)
                                                  : cell(tools::StationsModel::Version) + QLatin1Char('/') +
                                                        cell(tools::StationsModel::Participant),
                          cell(tools::StationsModel::State));
            [&] {
                QCOMPARE(stations.data(stations.index(row, 0), Qt::BackgroundRole).value<QColor>(),
                         tools::StationsModel::colourOf(cell(tools::StationsModel::State)));
            }();
        }
        return states;
    };
    QMap<QString, QString> expected = {
        {"Alpha/ann", "finished"}, {"Alpha/bob", "idle"}, {"Alpha/carl", "playing"},
        {"Alpha/eve", "idle (possibly crashed)"}, {"Alpha/finn", "left early"}, {"Beta/Ann", "finished"},
        {"Beta/fay", "idle"}, {"lab-11", "waiting at the login"}, {"lab-8", "waiting at the login"},
        {"lab-9", "not responding"}};
    QCOMPARE(statesNow(), expected);
    QVERIFY(tools::StationsModel::colourOf(QStringLiteral("waiting at the login")) !=
            tools::StationsModel::colourOf(QStringLiteral("playing")));
    // A station that closes leaves the view.
    m_db.exec(QStringLiteral("update datStation set State = 'closed' where Station = 'lab-8'"));
    window.refresh();
    expected.remove(QStringLiteral("lab-8"));
    QCOMPARE(statesNow(), expected);
    QCOMPARE(stations.data(stations.index(2, tools::StationsModel::Period), Qt::DisplayRole).toString(),
             QStringLiteral("10 of 10"));
    QVERIFY(tools::StationsModel::colourOf(QStringLiteral("idle (possibly crashed)")) !=
            tools::StationsModel::colourOf(QStringLiteral("playing")));

    // The day's pay: the same money the payments command lists, and its sum.
    const auto* pay = window.findChild<QTableWidget*>(QStringLiteral("tblPayments"));
    QVERIFY(pay);
    QCOMPARE(pay->rowCount(), 8);
    QCOMPARE(pay->item(7, 0)->text(), QStringLiteral("Total of 7 participants"));
    QCOMPARE(pay->item(7, 5)->text(), QStringLiteral("41.75"));
    // An earlier day's, read when it is chosen.
    auto* payDay = window.findChild<QDateEdit*>(QStringLiteral("dtpDay"));
    payDay->setDate(QDate(2026, 3, 2));
    QCOMPARE(pay->item(0, 1)->text(), QStringLiteral("O\"Neil, Pat"));
    QCOMPARE(pay->item(1, 0)->text(), QStringLiteral("Total of 1 participants"));
    payDay->setDate(kNow.date());
    QCOMPARE(pay->item(7, 5)->text(), QStringLiteral("41.75"));

    // Releasing eve's stopped station (the last test: it changes the fixture) takes an
    // experimenter's password; a wrong one releases nothing.
    m_db.append(QStringLiteral("tblPasswords"), {{QStringLiteral("username"), QStringLiteral("lab")},
                                                 {QStringLiteral("password"), store::hashPassword(QStringLiteral("pw"))}});
    const int eve = int(std::distance(expected.keyBegin(), std::find(expected.keyBegin(), expected.keyEnd(), "Alpha/eve")));
    QString typed = QStringLiteral("wrong");
    window.setCredentialsSource([&] { return std::make_pair(QStringLiteral("lab"), typed); });
    const auto status = [&] { return window.findChild<QLabel*>(QStringLiteral("lblStatus"))->text(); };
    // A station at the login stays selected across readings, and holds nobody to release.
    const auto* view = window.findChild<QTableView*>(QStringLiteral("tblStations"));
    window.selectStation(8);
    window.refresh();
    QCOMPARE(view->selectionModel()->selectedRows().value(0).row(), 8);
    QCOMPARE(stations.participant(8).station, QStringLiteral("lab-9"));
    window.releaseSelected();
    QCOMPARE(status(), QStringLiteral("lab-9 waits at the login: it holds nobody."));
    // Nothing starts inside another reading (one waiting on a lock lets the window run).
    tool.store().transaction([&](store::Connection&) { window.releaseSelected(); }, true, QStringLiteral("test"));
    QVERIFY2(status().startsWith(QStringLiteral("The database is busy")), qPrintable(status()));
    window.selectStation(eve);
    window.releaseSelected();
    QVERIFY2(status().startsWith(QStringLiteral("Wrong user name or password")), qPrintable(status()));
    QVERIFY(stations.participant(eve).held);
    typed = QStringLiteral("pw");
    window.releaseSelected();
    QVERIFY2(status().startsWith(QStringLiteral("Released eve of Alpha (held by lab-4)")), qPrintable(status()));
    QCOMPARE(stations.data(stations.index(eve, tools::StationsModel::State), Qt::DisplayRole).toString(),
             QStringLiteral("left early"));

    // Marked a pilot, eve is shown so, paid apart by the console and the command alike, and
    // the sheet the console writes is the command's.
    window.markSelected(QString::fromLatin1(store::MarkRow::kPilot), QStringLiteral("tried the lab out"));
    QCOMPARE(status(), QStringLiteral("Marked participant eve of version Alpha as a pilot."));
    QCOMPARE(stations.data(stations.index(eve, tools::StationsModel::Participant), Qt::DisplayRole).toString(),
             QStringLiteral("eve (pilot)"));
    QCOMPARE(pay->item(6, 5)->text(), QStringLiteral("36.25"));
    QVERIFY(pay->item(7, 0)->text().startsWith(QStringLiteral("Set apart")));
    QCOMPARE(pay->item(8, 1)->text(), QStringLiteral("eve"));
    QCOMPARE(pay->item(8, 6)->text(), QStringLiteral("pilot: tried the lab out"));
    const QStringList day = {QStringLiteral("--day"), QStringLiteral("2026-03-04")};
    const Output paid = call(tools::paymentsCommand, m_db.folder(), day);
    QVERIFY2(paid.out.contains(QStringLiteral("total to pay 36.25")) && paid.out.contains(QStringLiteral("Left out 1")),
             qPrintable(paid.out));
    QVERIFY(call(tools::paymentsCommand, m_db.folder(), day + QStringList{QStringLiteral("--include-pilots")})
                .out.contains(QStringLiteral("total to pay 41.75")));
    QTemporaryDir sheets;
    window.findChild<QLineEdit*>(QStringLiteral("txtRoundUp"))->setText(QStringLiteral("0.5"));
    QVERIFY(window.writePaySheet(sheets.filePath(QStringLiteral("console.csv"))));
    QCOMPARE(call(tools::paymentsCommand, m_db.folder(),
                  day + QStringList{QStringLiteral("--round-up"), QStringLiteral("0.5"), QStringLiteral("--sheet"),
                                    sheets.filePath(QStringLiteral("command.csv"))})
                 .status,
             0);
    const auto bytes = [&](const char* name) {
        QFile file(sheets.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(bytes("console.csv").contains(",finn,") && !bytes("console.csv").contains(",eve,"));
    QCOMPARE(bytes("console.csv"), bytes("command.csv"));
    window.findChild<QLineEdit*>(QStringLiteral("txtRoundUp"))->setText(QStringLiteral("0.001"));
    QVERIFY(!window.writePaySheet(sheets.filePath(QStringLiteral("bad.pdf"))));

    // Each export into a folder of its own, named after the study and the day, with the
    // codebook, and the pilot left out unless taken in.
    QTemporaryDir exports;
    window.setStudyName(QStringLiteral("pilot study"));
    const QString first = window.exportInto(exports.path());
    QVERIFY2(status().endsWith(QStringLiteral("left out 1 marked participant(s) (1 pilot(s), 0 excluded)")),
             qPrintable(status()));
    window.findChild<QCheckBox*>(QStringLiteral("chkIncludePilots"))->setChecked(true);
    const QString second = window.exportInto(exports.path());
    QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("pilot study-2026-03-04"));
    QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("pilot study-2026-03-04-2"));
    const auto subjects = [](const QString& folder, const QString& name = QStringLiteral("datSubject.csv")) {
        QFile file(QDir(folder).filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QRegularExpression eveRow(QStringLiteral("(^|[,\\n])eve(,|\\r)"));
    QVERIFY(!subjects(first).contains(eveRow) && subjects(second).contains(eveRow));
    // The analysis files go with the tables, and leave out whom they leave out.
    const QString participants = QStringLiteral("participants.csv");
    QVERIFY(!subjects(first, participants).contains(eveRow) && subjects(second, participants).contains(eveRow));
    for (const QString& folder : {first, second})
        QVERIFY2(QFile(QDir(folder).filePath(QStringLiteral("codebook.md"))).size() > 1000, qPrintable(folder));

    // The versions, each with what check says of it: a session of no period is named.
    m_db.exec(QStringLiteral("update tblSetup set MaxTrial = 0 where Version = 'Beta'"));
    window.checkVersions();
    auto* versions = window.findChild<QListWidget*>(QStringLiteral("lstVersions"));
    const auto* problems = window.findChild<QPlainTextEdit*>(QStringLiteral("txtProblems"));
    QCOMPARE(versions->count(), 2);
    versions->setCurrentRow(1);
    QVERIFY2(versions->item(1)->text().startsWith(QStringLiteral("Beta  (")), qPrintable(versions->item(1)->text()));
    QVERIFY2(problems->toPlainText().contains(QStringLiteral("field MaxTrial")), qPrintable(problems->toPlainText()));
    versions->setCurrentRow(0);
    QVERIFY(!problems->toPlainText().contains(QStringLiteral("field MaxTrial")));
}

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
