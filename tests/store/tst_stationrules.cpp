// What a station's role may do on a lab's server, tried as that role: what a session
// needs works, and every other write is refused with nothing changed. Server only.
#include "config/DemoConfig.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/NameKey.h"
#include "store/PostgresConnection.h"
#include "store/PostgresEngine.h"
#include "store/ServerSettings.h"
#include "store/StationTables.h"
#include "store/Tables.h"

#include <QtTest>

using namespace aquilevel;
using namespace aquilevel::store;

namespace {

const QString kVersion = QStringLiteral("Demo continuous");

ServerSettings as(const QString& user)
{
    ServerSettings s = serverSettingsFromUrl(qEnvironmentVariable("AQUILEVEL_TEST_SERVER"));
    if (!user.isEmpty())
        s.user = user;
    return s;
}

// A station: its own role, computer and run.
struct Station {
    Station(const QString& role, const QString& holder, const QString& computer)
        : engine(as(role)), computer(computer), holder(holder)
    {
        engine.setHolder(holder);
    }
    Connection& c() { return engine.open(false); }
    HoldRow hold(const QString& subject) const
    {
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        return {subject, kVersion, computer, holder, now, now};
    }
    PresenceRow presence(const char* state, const QString& subject = {}) const
    {
        return {holder, computer, QString::fromLatin1(state), subject, subject.isEmpty() ? QString() : kVersion, {}, {}};
    }
    PostgresEngine engine;
    QString computer;
    QString holder;
};

EventRow eventOf(const QString& subject, int id, double totBonus = 0)
{
    EventRow row;
    row.Subject = subject;
    row.Version = kVersion;
    row.eventType = QStringLiteral("Submit Clicked");
    row.EventID = id;
    row.Trial = 1;
    row.TotBonus = totBonus;
    return row;
}

PeriodOpened period(const QString& subject)
{
    PeriodOpened row;
    row.Subject = subject;
    row.Version = kVersion;
    row.Trial = 1;
    return row;
}

} // namespace

class TestStationRules : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void aSessionsWorkIsAllowed();
    void everythingElseIsRefused_data();
    void everythingElseIsRefused();
    void onlyAStaleHoldIsTakenOver();
    void aStationWritesOnlyItsOwnPresence();
    void anOlderServerIsLockedDownAtItsUpgrade();

private:
    // Every row of every table, as the owner sees them.
    QStringList everything();

    std::unique_ptr<PostgresConnection> m_owner;
    std::unique_ptr<Station> m_a; // holds ann
    std::unique_ptr<Station> m_b; // holds bob
};

void TestStationRules::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("AQUILEVEL_TEST_SERVER"))
        QSKIP("needs a server (AQUILEVEL_TEST_SERVER)");
    m_owner = PostgresConnection::open(as({}), 1000);
    m_owner->execute(QStringLiteral("DROP SCHEMA public CASCADE; CREATE SCHEMA public"));
    PostgresEngine(as({})).create(config::fillDemoConfiguration);
    for (const char* role : {"station_a", "station_b"})
        PostgresEngine::createStationRole(as({}), QString::fromLatin1(role));
    // The owner (here a superuser too) cannot be made a station: the rules would not hold it.
    QVERIFY_THROWS_EXCEPTION(ServerSettingsError, PostgresEngine::createStationRole(as({}), as({}).user));
    m_a = std::make_unique<Station>(QStringLiteral("station_a"), QStringLiteral("101:aaaa:secret-a"),
                                    QStringLiteral("lab-1"));
    m_b = std::make_unique<Station>(QStringLiteral("station_b"), QStringLiteral("202:bbbb:secret-b"),
                                    QStringLiteral("lab-2"));
    QVERIFY(!HoldTable::take(m_a->c(), m_a->hold(QStringLiteral("ann")), false, false));
    QVERIFY(!HoldTable::take(m_b->c(), m_b->hold(QStringLiteral("bob")), false, false));
    PresenceTable::announce(m_a->c(), m_a->presence(PresenceTable::kAtLogin));
    PresenceTable::announce(m_b->c(), m_b->presence(PresenceTable::kInSession, QStringLiteral("bob")));
    TrialSummaryTable::append(m_b->c(), period(QStringLiteral("bob")));
    EventTable::append(m_b->c(), eventOf(QStringLiteral("bob"), 1));
}

void TestStationRules::aSessionsWorkIsAllowed()
{
    Connection& c = m_a->c();
    const QString ann = QStringLiteral("ann");
    EventTable::append(c, eventOf(ann, 1));
    TrialSummaryTable::append(c, period(ann));
    SubmitTimeTable::append(c, {ann, kVersion, 1, QDate(2026, 12, 9), QTime(10, 0)});
    QuestionnaireTable::append(c, {ann, kVersion, 1, QStringLiteral("4")});
    MarkTable::append(c, {ann, kVersion, QStringLiteral("pilot"), QStringLiteral("played by bot")});
    PeriodCompleted done;
    done.AmountInTank = 42;
    QVERIFY(TrialSummaryTable::complete(c, ann, kVersion, 1, done));
    QVERIFY(HoldTable::refresh(c, m_a->hold(ann), 0));
    QCOMPARE(HoldTable::find(c, ann, kVersion)->Holder, m_a->holder);
    QCOMPARE(c.value(Sql("SELECT count(*) FROM \"tblSetup\"")).toInt(), 4);
    QCOMPARE(InstructionTable::pages(c, kVersion).size(), 2);
    // A returning participant logs in under another spelling of the registered name;
    // the session's rows carry the registered one, which folds to the same keys.
    QVERIFY(!HoldTable::take(c, m_a->hold(QStringLiteral("ΣΟΦΊΑΣ")), false, false));
    EventTable::append(c, eventOf(QStringLiteral("Σοφίας"), 1));
    // The server folds names as the program does, in every script.
    for (const char* name : {"Émile", "ΣΟΦΊΑΣ", "Σοφίας", "Straße", "İstanbul", "\U00010400ana"})
        QCOMPARE(c.value(Sql("SELECT \"aquilevelFold\"($1)"), {QString::fromUtf8(name)}).toString(),
                 nameKey(QString::fromUtf8(name)));
    // The gate's question is answered by the server, yes or no, to the hash the station
    // makes: the typed password itself is never what is sent.
    QVERIFY(PasswordTable::matches(c, config::kDemoUser, config::kDemoPassword));
    QVERIFY(!PasswordTable::matches(c, config::kDemoUser, config::kDemoPassword.toLower()));
    QVERIFY(!c.value(Sql("SELECT \"aquilevelPasswordMatches\"($1, $2)"), {config::kDemoUser, config::kDemoPassword})
                 .toBool());
}

void TestStationRules::everythingElseIsRefused_data()
{
    // Statements station A (holding ann, not bob or carl) runs one after the other.
    QTest::addColumn<QStringList>("statements");
    const QString keys = QStringLiteral("'%1', 'demo continuous'");
    const auto insert = [&](const char* table, const char* subject, const QString& columns = {},
                            const QString& values = {}) {
        return QStringLiteral("INSERT INTO \"%1\" (\"Subject\", \"Version\", \"SubjectKey\", \"VersionKey\"%2) "
                              "VALUES ('%3', 'Demo continuous', %4%5)")
            .arg(QLatin1String(table), columns, QLatin1String(subject), keys.arg(QLatin1String(subject)), values);
    };
    QTest::newRow("read the passwords") << QStringList{QStringLiteral("SELECT * FROM \"tblPasswords\"")};
    QTest::newRow("read the holders") << QStringList{QStringLiteral("SELECT \"Holder\" FROM \"datSessionHold\"")};
    QTest::newRow("another's summary") << QStringList{QStringLiteral(
        "UPDATE \"datTrialSummary\" SET \"AmountInTank\" = 999, \"TotBonus\" = 999 WHERE \"Subject\" = 'bob'")};
    QTest::newRow("a column no session completes")
        << QStringList{QStringLiteral("UPDATE \"datTrialSummary\" SET \"Trial\" = 7 WHERE \"Subject\" = 'ann'")};
    QTest::newRow("a forged event for another")
        << QStringList{insert("datExperimentTrials", "bob", QStringLiteral(", \"EventID\", \"TotBonus\""),
                              QStringLiteral(", 99, 1000"))};
    QTest::newRow("answers for a participant nobody holds")
        << QStringList{insert("datQuestionnaire", "carl", QStringLiteral(", \"QuestionNumber\""), QStringLiteral(", 1"))};
    QTest::newRow("a registration for another") << QStringList{insert("datSubject", "bob")};
    QTest::newRow("another marked") << QStringList{insert("datSubjectMark", "bob", QStringLiteral(", \"Mark\""),
                                                          QStringLiteral(", 'excluded'"))};
    QTest::newRow("its own participant excluded") << QStringList{insert("datSubjectMark", "ann", QStringLiteral(", \"Mark\""),
                                                                       QStringLiteral(", 'excluded'"))};
    QTest::newRow("its own participant's mark taken back")
        << QStringList{insert("datSubjectMark", "ann", QStringLiteral(", \"Mark\""), QStringLiteral(", ''"))};
    QTest::newRow("submit times for another") << QStringList{insert("datUserTimesSummary", "bob")};
    QTest::newRow("a summary row for another") << QStringList{insert("datTrialSummary", "bob")};
    QTest::newRow("rows deleted") << QStringList{QStringLiteral("DELETE FROM \"datExperimentTrials\"")};
    QTest::newRow("the configuration changed")
        << QStringList{QStringLiteral("UPDATE \"tblSetup\" SET \"MaxTrial\" = 1")};
    QTest::newRow("every hold deleted") << QStringList{QStringLiteral("DELETE FROM \"datSessionHold\"")};
    QTest::newRow("a hold kept by hand")
        << QStringList{QStringLiteral("UPDATE \"datSessionHold\" SET \"RefreshedUtc\" = '2000-01-01T00:00:00.000Z'")};
    QTest::newRow("a hold written by hand") << QStringList{insert("datSessionHold", "carl")};
    QTest::newRow("read the stations' runs") << QStringList{QStringLiteral("SELECT \"Holder\" FROM \"datStation\"")};
    QTest::newRow("a presence written by hand")
        << QStringList{QStringLiteral("INSERT INTO \"datStation\" (\"Holder\", \"Station\", \"State\") VALUES "
                                      "('303:cccc:x', 'lab-3', 'login')")};
    QTest::newRow("another's presence changed")
        << QStringList{QStringLiteral("UPDATE \"datStation\" SET \"State\" = 'closed'")};
    QTest::newRow("presences deleted") << QStringList{QStringLiteral("DELETE FROM \"datStation\"")};
    QTest::newRow("a state of its own making")
        << QStringList{QStringLiteral("SELECT \"aquilevelAnnounceStation\"('lab-1', 'away', NULL, NULL)")};
    QTest::newRow("another's hold released")
        << QStringList{QStringLiteral("SELECT \"aquilevelReleaseHold\"('bob', 'demo continuous')")};
    QTest::newRow("a held participant's keys under another's name")
        << QStringList{QStringLiteral("INSERT INTO \"datExperimentTrials\" (\"Subject\", \"Version\", \"SubjectKey\", "
                                      "\"VersionKey\", \"EventID\") VALUES ('bob', 'Demo continuous', 'ann', "
                                      "'demo continuous', 97)")};
    QTest::newRow("a row number of its own choosing")
        << QStringList{insert("datExperimentTrials", "ann", QStringLiteral(", \"EventID\", rowid"),
                              QStringLiteral(", 96, 1000000"))};
    QTest::newRow("another's holder named as far as it shows")
        << QStringList{QStringLiteral("SELECT set_config('aquilevel.holder', '202:bbbb', false)"),
                       insert("datExperimentTrials", "bob", QStringLiteral(", \"EventID\""), QStringLiteral(", 98"))};
}

void TestStationRules::everythingElseIsRefused()
{
    QFETCH(QStringList, statements);
    const QStringList before = everything();
    const QString last = statements.takeLast();
    Connection& c = m_a->c();
    for (const QString& statement : std::as_const(statements))
        c.execute(Sql(statement));
    // Rows changed or shown; a function of the stations' own says what it did.
    qint64 changed = -1;
    try {
        changed = last.startsWith(QLatin1String("SELECT \"aquilevel")) ? c.value(Sql(last)).toLongLong()
                                                                       : c.execute(Sql(last));
    } catch (const EngineError& error) {
        QVERIFY2(error.kind() == ErrorClass::Other, qPrintable(error.description()));
    }
    QVERIFY2(changed <= 0, "a station's role did what it must not");
    QCOMPARE(everything(), before);
    m_a->engine.setHolder(m_a->holder);
}

void TestStationRules::onlyAStaleHoldIsTakenOver()
{
    const QString bob = QStringLiteral("bob");
    // A live hold: refused, also to a station that says bob's computer has stopped his
    // copy (it runs under another role, on another computer) or that its own clock saw
    // him silent: the server judges by its own.
    for (const bool gone : {false, true}) {
        HoldRow claim = m_a->hold(bob);
        claim.Station = m_b->computer;
        const std::optional<HoldRow> keeper = HoldTable::take(m_a->c(), claim, gone, true);
        QVERIFY(keeper);
        QCOMPARE(keeper->Station, m_b->computer);
        QVERIFY2(!keeper->Holder.contains(QStringLiteral("secret")), qPrintable(keeper->Holder));
    }
    QCOMPARE(HoldTable::remove(m_a->c(), bob, kVersion, m_b->holder), 0);
    QVERIFY(HoldTable::refresh(m_b->c(), m_b->hold(bob), 0));
    // A copy under bob's role on a computer of his name (cloned from his image) saying his
    // copy has stopped, while his connection lives: refused.
    Station clone(QStringLiteral("station_b"), QStringLiteral("909:bbbb:secret-clone"), m_b->computer);
    QVERIFY(HoldTable::take(clone.c(), clone.hold(bob), true, true));

    // Bob's station restarted after a crash: its new copy takes him over at once, as soon
    // as the server has seen the old copy's session end.
    Station restarted(QStringLiteral("station_b"), QStringLiteral("203:bbbb:secret-b2"), m_b->computer);
    m_b->engine.discard();
    QTRY_VERIFY(!HoldTable::take(restarted.c(), restarted.hold(bob), true, false));

    // Stale by the server's clock: taken over, and bob's first station can no longer
    // write for him or keep the hold.
    m_owner->execute(Sql("UPDATE \"datSessionHold\" SET \"RefreshedUtc\" = to_char(now() AT TIME ZONE 'UTC' - "
                         "interval '61 seconds', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') WHERE \"SubjectKey\" = 'bob'"));
    QVERIFY(!HoldTable::take(m_a->c(), m_a->hold(bob), false, false));
    EventTable::append(m_a->c(), eventOf(bob, 2));
    QVERIFY(!HoldTable::refresh(m_b->c(), m_b->hold(bob), 0));
    QVERIFY(!HoldTable::keep(m_b->c(), m_b->hold(bob), 0));
    QVERIFY_THROWS_EXCEPTION(EngineError, EventTable::append(m_b->c(), eventOf(bob, 3)));
    QCOMPARE(HoldTable::remove(m_a->c(), bob, kVersion, m_a->holder), 1);
    // Let go once played on: bob's first station does not hold him again.
    QVERIFY(!HoldTable::keep(m_b->c(), m_b->hold(bob), 1));
}

void TestStationRules::aStationWritesOnlyItsOwnPresence()
{
    const auto rowOf = [&](const QString& holder) {
        return m_owner->query(Sql("SELECT \"Station\", \"State\", \"Subject\", \"RefreshedUtc\" FROM \"datStation\" "
                                  "WHERE \"Holder\" = $1"),
                              {holder})
            .values;
    };
    const QList<QVariantList> bobsStation = rowOf(m_b->holder);
    QCOMPARE(bobsStation.value(0).value(1).toString(), QStringLiteral("session"));
    PresenceTable::announce(m_a->c(), m_a->presence(PresenceTable::kInSession, QStringLiteral("ann")));
    QCOMPARE(rowOf(m_a->holder).value(0).value(2).toString(), QStringLiteral("ann"));
    // Naming bob's station's run as far as it shows writes a row of that name, never his.
    m_a->c().execute(Sql("SELECT set_config('aquilevel.holder', '202:bbbb', false)"));
    PresenceTable::announce(m_a->c(), m_b->presence(PresenceTable::kClosed));
    m_a->engine.setHolder(m_a->holder);
    QCOMPARE(rowOf(m_b->holder), bobsStation);
    for (const PresenceRow& row : PresenceTable::all(m_a->c()))
        QVERIFY(row.Holder.isEmpty());
}

void TestStationRules::anOlderServerIsLockedDownAtItsUpgrade()
{
    // A server of the layout before the rules (and the marks), whose station role could
    // do anything.
    m_owner->execute(QStringLiteral("DROP FUNCTION \"aquilevelHolds\" CASCADE; DROP TABLE \"datSubjectMark\"; "
                                    "DROP TABLE \"datStation\"; DROP FUNCTION \"aquilevelAnnounceStation\"; "
                                    "DROP FUNCTION \"aquilevelPasswordMatches\"; "
                                    "UPDATE \"aquilevelSchema\" SET version = 4; "
                                    "GRANT SELECT ON \"tblPasswords\" TO station_a; "
                                    "GRANT UPDATE, DELETE ON \"datTrialSummary\", \"datSessionHold\" TO station_a"));
    QCOMPARE(m_a->c().query(Sql("SELECT * FROM \"tblPasswords\"")).values.size(), 1);
    m_a->engine.discard();
    PostgresEngine(as({})).open(false); // the owner's next command brings it up to date
    const QStringList before = everything();
    for (const char* forbidden : {"SELECT * FROM \"tblPasswords\"", "DELETE FROM \"datSessionHold\"",
                                  "UPDATE \"datTrialSummary\" SET \"Trial\" = 7"}) {
        try {
            QCOMPARE(m_a->c().execute(Sql(QString::fromLatin1(forbidden))), 0);
        } catch (const EngineError&) {
        }
    }
    QCOMPARE(everything(), before);
    QVERIFY(!HoldTable::take(m_a->c(), m_a->hold(QStringLiteral("dora")), false, false));
    EventTable::append(m_a->c(), eventOf(QStringLiteral("dora"), 1));
    MarkTable::append(m_a->c(), {QStringLiteral("dora"), kVersion, QStringLiteral("pilot"), {}});
    QCOMPARE(MarkTable::mark(m_a->c(), QStringLiteral("Dora"), kVersion), QStringLiteral("pilot"));
    QVERIFY(PasswordTable::matches(m_a->c(), config::kDemoUser, config::kDemoPassword));
    QCOMPARE(InstructionTable::pages(m_a->c(), kVersion).size(), 2);
    PresenceTable::announce(m_a->c(), m_a->presence(PresenceTable::kAtLogin));
    QCOMPARE(PresenceTable::all(m_a->c()).size(), 1);
}

QStringList TestStationRules::everything()
{
    QStringList tables = tableNames(TableKind::Data) + tableNames(TableKind::Config);
    tables << QStringLiteral("datSessionHold") << QStringLiteral("datStation");
    QStringList sums;
    for (const QString& table : std::as_const(tables))
        sums << m_owner
                    ->value(Sql(QStringLiteral("SELECT md5(coalesce(string_agg(t::text, '|' ORDER BY t::text), '')) "
                                               "FROM %1 t")
                                    .arg(quotedName(table))))
                    .toString();
    return sums;
}

QTEST_GUILESS_MAIN(TestStationRules)
#include "tst_stationrules.moc"
