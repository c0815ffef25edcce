// Every row appended to a data table says when (UTC, to the millisecond) and on which
// computer it was written; files of the first layout gain the two columns when they are
// first opened, and their old rows keep them empty.

#include "store/DataLocation.h"
#include "store/Schema.h"
#include "store/SqlCipherConnection.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"
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

std::unique_ptr<SqlCipherConnection> raw(const QString& path)
{
    return SqlCipherConnection::open(path, databasePassword(), false, SqlCipherEngine::kBusyTimeoutMs);
}

int userVersion(const QString& path)
{
    return raw(path)->select(Query(QStringLiteral("PRAGMA user_version")), false).values.value(0).value(0).toInt();
}

// The statements of the first layout: today's, less the two columns and the holds.
QStringList firstLayoutStatements()
{
    QStringList statements;
    int stripped = 0;
    for (QString statement : schemaStatements()) {
        if (statement.contains(QStringLiteral("datSessionHold")))
            continue;
        stripped += statement.count(QStringLiteral(",\n  EventTimeUtc TEXT, Station TEXT"));
        statement.remove(QStringLiteral(",\n  EventTimeUtc TEXT, Station TEXT"));
        statement.replace(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion),
                          QStringLiteral("PRAGMA user_version = 1"));
        statements.append(statement);
    }
    return stripped == 5 ? statements : QStringList();
}

void appendRow(Store& store, const QString& table, const QString& subject,
               const FieldValues& more = {})
{
    auto rs = store.OpenTable(table, false, QStringLiteral("Recording data"));
    rs->addNew();
    rs->setField(QStringLiteral("Subject"), subject);
    for (const auto& [name, value] : more)
        rs->setField(name, value);
    rs->update();
    rs->close();
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
        for (const QString& table : stampedTables()) {
            const QStringList columns = raw(db.path())->columns(table);
            QCOMPARE(columns.mid(columns.size() - 2), kStamps);

            const QDateTime before = QDateTime::currentDateTimeUtc();
            appendRow(*rig.store, table, QStringLiteral("new"));
            const QDateTime after = QDateTime::currentDateTimeUtc();
            const Rows rows = raw(db.path())->select(
                Query(QStringLiteral("select EventTimeUtc, Station from %1 where Subject=?").arg(table),
                      {QStringLiteral("new")}),
                false);
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
        appendRow(*rig.store, QStringLiteral("datSubject"), QStringLiteral("given"),
                  {{QStringLiteral("eventtimeutc"), QStringLiteral("2020-01-02T03:04:05.678Z")},
                   {QStringLiteral("Station"), QStringLiteral("lab-3")}});
        QCOMPARE(db.column(QStringLiteral("select EventTimeUtc || ' ' || Station from datSubject")),
                 QVariantList{QStringLiteral("2020-01-02T03:04:05.678Z lab-3")});

        // Editing a row keeps the moment it was written.
        auto rs = rig.store->OpenTable(Query(QStringLiteral("select * from datSubject where Subject=?"), {QStringLiteral("given")}), false,
                                       QStringLiteral("Recording data"));
        rs->edit();
        rs->setField(QStringLiteral("Major"), QStringLiteral("Hydrology"));
        rs->update();
        rs->close();
        rig.store->CloseTable();
        QCOMPARE(db.column(QStringLiteral("select EventTimeUtc || ' ' || Station || ' ' || Major from datSubject")),
                 QVariantList{QStringLiteral("2020-01-02T03:04:05.678Z lab-3 Hydrology")});

        // Configuration tables have no such columns and get none.
        auto passwords = rig.store->OpenTable(QStringLiteral("tblPasswords"), false, QStringLiteral("x"));
        passwords->addNew();
        passwords->setField(QStringLiteral("username"), QStringLiteral("u"));
        passwords->update();
        passwords->close();
        rig.store->CloseTable();
        QCOMPARE(db.column(QStringLiteral("select count(*) from tblPasswords")), QVariantList{qint64(1)});
        QCOMPARE(raw(db.path())->columns(QStringLiteral("tblPasswords")),
                 QStringList({QStringLiteral("username"), QStringLiteral("password")}));
    }

    void aFirstLayoutFileIsUpgradedOnceWhenOpened()
    {
        QTemporaryDir dir;
        const QString path = databasePath(dir.path());
        const QStringList oldStatements = firstLayoutStatements();
        QVERIFY(!oldStatements.isEmpty());
        SqlCipherEngine::create(path, databasePassword(), oldStatements, [](Connection& c) {
            c.insert(QStringLiteral("datSubject"), {{QStringLiteral("Subject"), QStringLiteral("old")},
                                                    {QStringLiteral("Version"), QStringLiteral("V")}});
            c.insert(QStringLiteral("datExperimentTrials"), {{QStringLiteral("Subject"), QStringLiteral("old")},
                                                             {QStringLiteral("EventID"), 1}});
        });
        QCOMPARE(userVersion(path), 1);
        const QStringList eventColumns = raw(path)->columns(QStringLiteral("datExperimentTrials"));
        QCOMPARE(eventColumns.size(), 40);

        {
            Rig rig(std::make_unique<SqlCipherEngine>(path, databasePassword()));
            appendRow(*rig.store, QStringLiteral("datExperimentTrials"), QStringLiteral("new"));
        }
        QCOMPARE(userVersion(path), kSchemaVersion);
        for (const QString& table : stampedTables()) {
            const QStringList columns = raw(path)->columns(table);
            QCOMPARE(columns.mid(columns.size() - 2), kStamps);
        }
        QCOMPARE(raw(path)->columns(QStringLiteral("datExperimentTrials")), eventColumns + kStamps);

        // The old rows keep Null; the new one is stamped.
        auto connection = raw(path);
        const Rows events = connection->select(
            Query(QStringLiteral("select Subject, EventTimeUtc, Station from datExperimentTrials order by rowid")),
            false);
        QCOMPARE(events.values.size(), 2);
        QVERIFY(events.values.at(0).at(1).isNull());
        QVERIFY(events.values.at(0).at(2).isNull());
        QVERIFY(!events.values.at(1).at(1).isNull());
        QCOMPARE(events.values.at(1).at(2).toString(), QSysInfo::machineHostName());
        const Rows subjects = connection->select(
            Query(QStringLiteral("select count(*) from datSubject where EventTimeUtc is null and Station is null")),
            false);
        QCOMPARE(subjects.values.at(0).at(0).toInt(), 1);
        connection.reset();

        // A second opening finds nothing to do (adding the columns again would fail).
        {
            Rig rig(std::make_unique<SqlCipherEngine>(path, databasePassword()));
            appendRow(*rig.store, QStringLiteral("datSubject"), QStringLiteral("later"));
        }
        QCOMPARE(userVersion(path), kSchemaVersion);
        QCOMPARE(raw(path)->columns(QStringLiteral("datSubject")).size(), 10);
        QCOMPARE(raw(path)->columns(QStringLiteral("datSessionHold")).size(), 7);
    }

    void upgradeStatementsAreNoneForCurrentOrForeignFiles()
    {
        QVERIFY(upgradeStatements(kSchemaVersion).isEmpty());
        QVERIFY(upgradeStatements(0).isEmpty());
        QVERIFY(upgradeStatements(kSchemaVersion + 1).isEmpty());
        const QStringList fromOne = upgradeStatements(1);
        QCOMPARE(fromOne.size(), 2 * stampedTables().size() + 2);
        QCOMPARE(fromOne.last(), QStringLiteral("PRAGMA user_version = 3"));
    }
};

QTEST_GUILESS_MAIN(TestRowStamps)
#include "tst_rowstamps.moc"
