// Every row appended to a data table says when (UTC, to the millisecond) and on which
// computer it was written; files of the first layout gain the two columns when they are
// first opened, and their old rows keep them empty.

#include "store/DataLocation.h"
#include "store/DataTables.h"
#include "store/Layout.h"
#include "store/SqlCipherConnection.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"
#include "store/Tables.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDatabase.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSysInfo>
#include <QtTest>

using namespace aquilevel;
using namespace aquilevel::store;
using aquilevel::test::TempDatabase;

namespace {

struct Rig {
    explicit Rig(std::unique_ptr<Engine> engine) : random({0.5})
    {
        store = std::make_unique<Store>(std::move(engine), prompter, pacer, random, [] {
            throw std::runtime_error("the store gave up");
        });
    }
    test::ScriptedPrompter prompter;
    test::RecordingPacer pacer;
    test::FixedRandom random;
    std::unique_ptr<Store> store;
};

const QStringList kStamps = {QStringLiteral("EventTimeUtc"), QStringLiteral("Station")};
const QStringList kKeys = {QStringLiteral("SubjectKey"), QStringLiteral("VersionKey")};
// The write step that appended the row (filled on a server only).
const QStringList kToken = {QStringLiteral("WriteToken")};

std::unique_ptr<SqlCipherConnection> raw(const QString& path)
{
    return SqlCipherConnection::open(path, databasePassword(), false, SqlCipherEngine::kBusyTimeoutMs);
}

int userVersion(const QString& path)
{
    return raw(path)->value(Sql("PRAGMA user_version")).toInt();
}

QStringList columnsOf(const QString& path, const QString& table)
{
    return raw(path)->query(Sql(QStringLiteral("SELECT * FROM %1 WHERE 0").arg(table))).columns;
}

void appendRow(Store& store, const QString& table, const QString& subject, const QVariantMap& more = {})
{
    QVariantMap row = more;
    row.insert(table == QLatin1String("tblPasswords") ? QStringLiteral("username") : QStringLiteral("Subject"), subject);
    store.write([&](Connection& c) { test::appendTo(c, table, row); }, table, QStringLiteral("Recording data"));
    store.CloseTable();
}

// Checks one stamp: ISO 8601 UTC text with milliseconds, within [before, after].
void verifyStamp(const QVariant& stamp, const QDateTime& before, const QDateTime& after)
{
    const QString text = stamp.toString();
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));
    QVERIFY2(shape.match(text).hasMatch(), qPrintable(text));
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
    QVERIFY2(moment.isValid(), qPrintable(text));
    QCOMPARE(moment.timeSpec(), Qt::UTC);
    QVERIFY2(moment >= before && moment <= after,
             qPrintable(QStringLiteral("%1 not within %2 .. %3")
                            .arg(text, before.toString(Qt::ISODateWithMs), after.toString(Qt::ISODateWithMs))));
    QVERIFY(qAbs(moment.secsTo(QDateTime::currentDateTimeUtc())) < 5);
}

} // namespace

class TestRowStamps : public QObject {
    Q_OBJECT

private slots:
    void everyDataTableStampsItsNewRows()
    {
        TempDatabase db;
        Rig rig(db.engine());
        QVERIFY(!QSysInfo::machineHostName().isEmpty());
        for (const QString& table : tableNames(TableKind::Data)) {
            const QStringList columns = columnsOf(db.path(), table);
            QCOMPARE(columns.mid(columns.size() - 5), kStamps + kKeys + kToken);

            const QDateTime before = QDateTime::currentDateTimeUtc();
            appendRow(*rig.store, table, QStringLiteral("new"));
            const QDateTime after = QDateTime::currentDateTimeUtc();
            const Rows rows = raw(db.path())->query(
                Sql(QStringLiteral("SELECT EventTimeUtc, Station FROM %1 WHERE Subject = $1").arg(table)),
                {QStringLiteral("new")});
            QCOMPARE(rows.values.size(), 1);
            verifyStamp(rows.values.at(0).at(0), before, after);
            QCOMPARE(rows.values.at(0).at(1).toString(), QSysInfo::machineHostName());
        }
        QCOMPARE(userVersion(db.path()), kSchemaVersion);
    }

    void theCallersValuesAndEditedRowsAreLeftAlone()
    {
        TempDatabase db;
        Rig rig(db.engine());
        appendRow(*rig.store, QStringLiteral("datTrialSummary"), QStringLiteral("given"),
                  {{QStringLiteral("eventtimeutc"), QStringLiteral("2020-01-02T03:04:05.678Z")},
                   {QStringLiteral("Station"), QStringLiteral("lab-3")},
                   {QStringLiteral("Version"), QStringLiteral("V")},
                   {QStringLiteral("Trial"), 1}});
        QCOMPARE(db.column(QStringLiteral("SELECT EventTimeUtc || ' ' || Station FROM datTrialSummary")),
                 QVariantList{QStringLiteral("2020-01-02T03:04:05.678Z lab-3")});

        // Completing a period's row keeps the moment it was written.
        PeriodCompleted done;
        done.AmountInTank = 7.5;
        rig.store->write([&](Connection& c) { TrialSummaryTable::complete(c, QStringLiteral("given"), QStringLiteral("V"), 1, done); },
                         QStringLiteral("datTrialSummary"), QStringLiteral("Recording Amount"));
        QCOMPARE(db.column(QStringLiteral("SELECT EventTimeUtc || ' ' || Station || ' ' || AmountInTank FROM datTrialSummary")),
                 QVariantList{QStringLiteral("2020-01-02T03:04:05.678Z lab-3 7.5")});

        // Configuration tables have no such columns and get none.
        appendRow(*rig.store, QStringLiteral("tblPasswords"), QStringLiteral("u"));
        QCOMPARE(db.column(QStringLiteral("SELECT count(*) FROM tblPasswords")), QVariantList{qint64(1)});
        QCOMPARE(columnsOf(db.path(), QStringLiteral("tblPasswords")),
                 QStringList({QStringLiteral("username"), QStringLiteral("password")}));
    }

    void aFirstLayoutFileIsUpgradedOnceWhenOpened()
    {
        QTemporaryDir dir;
        const QString path = databasePath(dir.path());
        {
            auto old = SqlCipherConnection::open(path, databasePassword(), true, 2000);
            for (const QString& statement : test::olderLayout(1))
                old->run(statement);
            old->execute(Sql("INSERT INTO datSubject (Subject, Version) VALUES ('old', 'V')"));
            old->execute(Sql("INSERT INTO datExperimentTrials (Subject, Version, EventID) VALUES ('old', 'V', 1)"));
        }
        QCOMPARE(userVersion(path), 1);
        const QStringList eventColumns = columnsOf(path, QStringLiteral("datExperimentTrials"));
        QCOMPARE(eventColumns.size(), 40);

        {
            Rig rig(std::make_unique<SqlCipherEngine>(path, databasePassword()));
            appendRow(*rig.store, QStringLiteral("datExperimentTrials"), QStringLiteral("new"));
        }
        QCOMPARE(userVersion(path), kSchemaVersion);
        for (const QString& table : tableNames(TableKind::Data)) {
            const QStringList columns = columnsOf(path, table);
            QCOMPARE(columns.mid(columns.size() - 5), kStamps + kKeys + kToken);
        }
        QCOMPARE(columnsOf(path, QStringLiteral("datExperimentTrials")), eventColumns + kStamps + kKeys + kToken);

        // The old rows keep Null; the new one is stamped.
        auto connection = raw(path);
        const Rows events =
            connection->query(Sql("SELECT Subject, EventTimeUtc, Station FROM datExperimentTrials ORDER BY rowid"));
        QCOMPARE(events.values.size(), 2);
        QVERIFY(events.values.at(0).at(1).isNull());
        QVERIFY(events.values.at(0).at(2).isNull());
        QVERIFY(!events.values.at(1).at(1).isNull());
        QCOMPARE(events.values.at(1).at(2).toString(), QSysInfo::machineHostName());
        const Rows subjects =
            connection->query(Sql("SELECT count(*) FROM datSubject WHERE EventTimeUtc IS NULL AND Station IS NULL"));
        QCOMPARE(subjects.values.at(0).at(0).toInt(), 1);
        connection.reset();

        // A second opening finds nothing to do (adding the columns again would fail).
        {
            Rig rig(std::make_unique<SqlCipherEngine>(path, databasePassword()));
            appendRow(*rig.store, QStringLiteral("datSubject"), QStringLiteral("later"));
        }
        QCOMPARE(userVersion(path), kSchemaVersion);
        QCOMPARE(columnsOf(path, QStringLiteral("datSubject")).size(), 13);
        QCOMPARE(columnsOf(path, QStringLiteral("datSessionHold")),
                 findTable(QStringLiteral("datSessionHold"))->columnNames());
    }

    void upgradeLeavesCurrentAndForeignFilesAlone()
    {
        TempDatabase db;
        const QStringList before = columnsOf(db.path(), QStringLiteral("datSubject"));
        auto connection = raw(db.path());
        for (int version : {0, kSchemaVersion, kSchemaVersion + 1}) {
            connection->begin(true);
            upgradeLayout(*connection, version);
            connection->commit();
        }
        QCOMPARE(columnsOf(db.path(), QStringLiteral("datSubject")), before);
        QCOMPARE(userVersion(db.path()), kSchemaVersion);
    }
};

QTEST_GUILESS_MAIN(TestRowStamps)
#include "tst_rowstamps.moc"
