// What one store access costs compared with the engine's own minimum.
//
//   store_bench [--count N] [--folder DIR] [--server URL]
//
// (a) One full access as the event log makes it: one Store::write of an event row of all
//     40 columns through EventTable::append, committed on its own, on a Store with the
//     real SQLCipher engine (the store adds the row's moment, station and name keys).
// (b) A bare committed INSERT of the same 40 columns with bound parameters, on a SQLCipher
//     connection that is already open and keyed (autocommit, prepared once).
// Each runs on a fresh database file of its own in the same folder (default: a new
// temporary folder beside this program, on the disk the data lives on). The two kinds
// alternate, and which goes first alternates too, so that disk noise hits both alike.
// Also shown: what opening and keying a file costs, which is why the store keeps its
// handle between accesses. With --server the same on the lab's PostgreSQL server: the
// store on the server engine against a bare prepared INSERT on a libpq connection of its
// own (autocommit), both into the server's datExperimentTrials (created when missing);
// and what connecting costs.

#include "BenchSupport.h"
#include "session/Session.h"

#include "store/DataLocation.h"
#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/ServerSettings.h"
#include "store/StationRules.h"
#include "store/StationTables.h"
#include "store/Store.h"

#ifndef SQLITE_HAS_CODEC
#define SQLITE_HAS_CODEC 1
#endif
#include <sqlcipher/sqlite3.h>

#include <libpq-fe.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace aquilevel;
using namespace aquilevel::store;

namespace {

using SteadyClock = std::chrono::steady_clock;

double msSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// One event row of 40 columns, in the table's order, as the event log writes it.
struct Column {
    const char* name;
    QVariant value;
};

std::vector<Column> eventRow(int i)
{
    return {
        {"Subject", QStringLiteral("bench")},
        {"Version", QStringLiteral("Demo continuous")},
        {"SubjectKey", QStringLiteral("bench")},
        {"VersionKey", QStringLiteral("demo continuous")},
        {"eventType", QStringLiteral("After Cost Calculation")},
        {"EventID", i},
        {"Trial", i / 4},
        {"Date", QDate(2026, 3, 4)},
        {"Time", QStringLiteral("10:00:05")},
        {"CurrentCost", 0.125},
        {"TotCost", 0.125 * i},
        {"UserInFlow", 2.5},
        {"UserOutFlow", 1.5},
        {"EnvInFlow", 3.0},
        {"EnvOutFlow", 2.0},
        {"BackOrder", 4.0},
        {"ForwardDischarge", 2.0},
        {"TotalBackOrder", 8.0},
        {"TotalForwardDischarge", 4.0},
        {"AmountInTank", 21.5},
        {"GoalAmount", 30.0},
        {"SimulationTime", 1.0},
        {"BaseMoney", 5.0},
        {"UserInflowTP", 3},
        {"UserOutflowTP", 2},
        {"AfterEveryNTrials", 1},
        {"IsUserInFlow", 1},
        {"IsUserOutFlow", 1},
        {"IsEnvInFlow", 1},
        {"IsEnvOutFlow", 1},
        {"graphicalMode", 1},
        {"BonusAmount", 0.5},
        {"CurrentBonus", 0.5},
        {"TotBonus", 5.5},
        {"LowerBoundFromGoal", 1.0},
        {"UpperBoundFromGoal", 1.0},
        {"ExperimentTimeForInstructions", 30},
        {"MaxNumberOfAScenarioType", 60},
        {"IsTimeDriven", 0},
        {"IsBonusOnTimeGap", 0},
        {"TimeBetweenEnvTries", 5000.0},
        {"deltaTmeBetweenEnvUsr", 2000.0},
    };
}

// The same row as the event log hands it to the store.
EventRow eventOf(int i)
{
    EventRow r;
    r.Subject = QStringLiteral("bench");
    r.Version = QStringLiteral("Demo continuous");
    r.eventType = QStringLiteral("After Cost Calculation");
    r.EventID = i;
    r.Trial = i / 4;
    r.Date = QDate(2026, 3, 4);
    r.Time = QStringLiteral("10:00:05");
    r.CurrentCost = 0.125;
    r.TotCost = 0.125 * i;
    r.UserInFlow = 2.5;
    r.UserOutFlow = 1.5;
    r.EnvInFlow = 3.0;
    r.EnvOutFlow = 2.0;
    r.BackOrder = 4.0;
    r.ForwardDischarge = 2.0;
    r.TotalBackOrder = 8.0;
    r.TotalForwardDischarge = 4.0;
    r.AmountInTank = 21.5;
    r.GoalAmount = 30.0;
    r.SimulationTime = 1.0;
    r.BaseMoney = 5.0;
    r.UserInflowTP = 3;
    r.UserOutflowTP = 2;
    r.AfterEveryNTrials = 1;
    r.IsUserInFlow = r.IsUserOutFlow = r.IsEnvInFlow = r.IsEnvOutFlow = true;
    r.graphicalMode = true;
    r.BonusAmount = 0.5;
    r.CurrentBonus = 0.5;
    r.TotBonus = 5.5;
    r.LowerBoundFromGoal = 1.0;
    r.UpperBoundFromGoal = 1.0;
    r.ExperimentTimeForInstructions = 30;
    r.MaxNumberOfAScenarioType = 60;
    r.IsTimeDriven = false;
    r.IsBonusOnTimeGap = false;
    r.TimeBetweenEnvTries = 5000.0;
    r.deltaTmeBetweenEnvUsr = 2000.0;
    return r;
}

[[noreturn]] void die(sqlite3* db, const char* what)
{
    std::fprintf(stderr, "store_bench: %s: %s\n", what, db ? sqlite3_errmsg(db) : "no handle");
    std::exit(1);
}

// Opens and keys a file the way the engine does, proving the key with one read.
sqlite3* openKeyed(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        die(db, "open");
    const QByteArray key = databasePassword();
    if (sqlite3_key(db, key.constData(), key.size()) != SQLITE_OK)
        die(db, "key");
    if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
        die(db, "first read");
    return db;
}

// The bare insert: prepared once on an open connection, bound and stepped each time.
class BareInsert {
public:
    explicit BareInsert(const QString& path) : m_db(openKeyed(path))
    {
        QStringList names;
        QStringList marks;
        for (const Column& c : eventRow(0)) {
            names.append(QLatin1Char('"') + QLatin1String(c.name) + QLatin1Char('"'));
            marks.append(QStringLiteral("?"));
        }
        const QByteArray sql = QStringLiteral("INSERT INTO datExperimentTrials (%1) VALUES (%2)")
                                   .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')))
                                   .toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), sql.size(), &m_insert, nullptr) != SQLITE_OK)
            die(m_db, "prepare");
    }
    ~BareInsert()
    {
        sqlite3_finalize(m_insert);
        sqlite3_close_v2(m_db);
    }

    void run(int i)
    {
        sqlite3_reset(m_insert);
        int index = 1;
        for (const Column& c : eventRow(i)) {
            int rc;
            switch (c.value.typeId()) {
            case QMetaType::Int:
                rc = sqlite3_bind_int64(m_insert, index, c.value.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(m_insert, index, c.value.toDouble());
                break;
            default: {
                const QByteArray text = c.value.typeId() == QMetaType::QDate
                                            ? c.value.toDate().toString(Qt::ISODate).toUtf8()
                                            : c.value.toString().toUtf8();
                rc = sqlite3_bind_text(m_insert, index, text.constData(), text.size(),
                                       SQLITE_TRANSIENT);
            }
            }
            if (rc != SQLITE_OK)
                die(m_db, "bind");
            ++index;
        }
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            die(m_db, "insert");
    }

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
};

// This run's holder of the bench participant (a station may write only for the
// participants it holds).
const QString& benchHolder()
{
    static const QString holder = QStringLiteral("%1:bench:%2").arg(QCoreApplication::applicationPid())
                                      .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
    return holder;
}

// The same bare insert on the server: one connection, the statement prepared once,
// every value as text as the engine sends it.
class BareServerInsert {
public:
    explicit BareServerInsert(const ServerSettings& settings) : m_connection(connect(settings))
    {
        QStringList names;
        QStringList marks;
        for (const Column& c : eventRow(0)) {
            names.append(QLatin1Char('"') + QLatin1String(c.name) + QLatin1Char('"'));
            marks.append(QStringLiteral("$%1").arg(marks.size() + 1));
        }
        const QByteArray sql = QStringLiteral("INSERT INTO \"datExperimentTrials\" (%1) VALUES (%2)")
                                   .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')))
                                   .toUtf8();
        check(PQprepare(m_connection, "bare", sql.constData(), int(names.size()), nullptr), "prepare");
    }
    ~BareServerInsert() { PQfinish(m_connection); }

    static PGconn* connect(const ServerSettings& settings)
    {
        std::vector<QByteArray> keys, values;
        for (const auto& [k, v] : settings.connectionKeywords()) {
            keys.push_back(k);
            values.push_back(v);
        }
        std::vector<const char*> k, v;
        for (size_t i = 0; i < keys.size(); ++i) {
            k.push_back(keys[i].constData());
            v.push_back(values[i].constData());
        }
        k.push_back(nullptr);
        v.push_back(nullptr);
        PGconn* connection = PQconnectdbParams(k.data(), v.data(), 0);
        if (PQstatus(connection) != CONNECTION_OK) {
            std::fprintf(stderr, "store_bench: connect: %s\n", PQerrorMessage(connection));
            std::exit(1);
        }
        // Under a station's role the rows are checked against its hold, as the store's are.
        const QByteArray holder = benchHolder().toUtf8();
        const char* params[] = {kHolderSetting, holder.constData()};
        PGresult* named = PQexecParams(connection, "SELECT set_config($1, $2, false)", 2, nullptr, params, nullptr,
                                       nullptr, 0);
        if (PQresultStatus(named) != PGRES_TUPLES_OK) {
            std::fprintf(stderr, "store_bench: holder: %s\n", PQerrorMessage(connection));
            std::exit(1);
        }
        PQclear(named);
        return connection;
    }

    void run(int i)
    {
        std::vector<QByteArray> texts;
        std::vector<const char*> pointers;
        for (const Column& c : eventRow(i))
            texts.push_back(c.value.typeId() == QMetaType::Double ? QByteArray::number(c.value.toDouble(), 'g', 17)
                            : c.value.typeId() == QMetaType::QDate ? c.value.toDate().toString(Qt::ISODate).toUtf8()
                                                                   : c.value.toString().toUtf8());
        for (const QByteArray& t : texts)
            pointers.push_back(t.constData());
        check(PQexecPrepared(m_connection, "bare", int(pointers.size()), pointers.data(), nullptr, nullptr, 0), "insert");
    }

private:
    void check(PGresult* result, const char* what)
    {
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "store_bench: %s: %s\n", what, PQerrorMessage(m_connection));
            std::exit(1);
        }
        PQclear(result);
    }
    PGconn* m_connection;
};

struct Stats {
    double median;
    double p95;
};

Stats stats(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    // Nearest rank: the smallest sample that at least 95 % of the samples do not exceed.
    const size_t rank = static_cast<size_t>(std::ceil(0.95 * n));
    return {median, samples[std::max<size_t>(rank, 1) - 1]};
}

void createDatabase(const QString& path)
{
    engineAt(path)->create({});
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times a full store access against a bare committed INSERT."));
    parser.addHelpOption();
    const QCommandLineOption countOption(QStringLiteral("count"),
                                         QStringLiteral("Iterations of each kind (default 300)."),
                                         QStringLiteral("N"), QStringLiteral("300"));
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral("Folder for the two database files (default: a new temporary folder "
                       "beside this program)."),
        QStringLiteral("DIR"));
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("Measure on this PostgreSQL server instead of files."),
                                          QStringLiteral("URL"));
    parser.addOption(countOption);
    parser.addOption(folderOption);
    parser.addOption(serverOption);
    parser.process(app);

    bool ok = false;
    const int count = parser.value(countOption).toInt(&ok);
    if (!ok || count < 1) {
        std::fprintf(stderr, "store_bench: --count needs a positive whole number\n");
        return 1;
    }
    const QString parent = parser.isSet(folderOption) ? parser.value(folderOption)
                                                      : QCoreApplication::applicationDirPath();
    if (!QDir().mkpath(parent)) {
        std::fprintf(stderr, "store_bench: cannot create %s\n", qPrintable(parent));
        return 1;
    }
    QTemporaryDir folder(QDir(parent).filePath(QStringLiteral("store-bench-XXXXXX")));
    if (!folder.isValid()) {
        std::fprintf(stderr, "store_bench: cannot create a folder in %s\n", qPrintable(parent));
        return 1;
    }
    const QString storePath = folder.filePath(QStringLiteral("store.db"));
    const QString barePath = folder.filePath(QStringLiteral("bare.db"));
    const QString keyPath = folder.filePath(QStringLiteral("key.db"));
    createDatabase(storePath);
    createDatabase(barePath);
    createDatabase(keyPath);

    aquilevel::UnattendedPrompter prompter(aquilevel::bench::questionVoidsTheRun("store_bench"));
    RealPacer pacer;
    aquilevel::ProgramRandom random;
    random.seed(7);
    std::optional<ServerSettings> server;
    const QString url = parser.value(serverOption);
    if (parser.isSet(serverOption)) {
        if (!isServerUrl(url)) {
            std::fprintf(stderr, "store_bench: --server takes a postgresql:// URL\n");
            return 1;
        }
        try {
            server = serverSettingsFromUrl(url);
            engineAt(url)->create({});
        } catch (const ServerSettingsError& error) {
            std::fprintf(stderr, "store_bench: %s\n", qPrintable(error.message()));
            return 1;
        } catch (const StoreError&) {
            // The tables are there already: measured where they are.
        } catch (const EngineError& error) {
            std::fprintf(stderr, "store_bench: %s\n", qPrintable(error.description()));
            return 1;
        }
    }
    std::unique_ptr<Engine> engine = engineAt(server ? url : storePath);
    Store store(std::move(engine), prompter, pacer, random, [] { std::exit(2); });
    std::unique_ptr<BareInsert> bareFile;
    std::unique_ptr<BareServerInsert> bareServer;
    if (server) {
        store.engine().setHolder(benchHolder());
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        const HoldRow bench{QStringLiteral("bench"), QStringLiteral("Demo continuous"), QStringLiteral("bench"),
                            benchHolder(), now, now};
        std::optional<HoldRow> keeper;
        store.transaction([&](Connection& c) { keeper = HoldTable::take(c, bench, true, false); }, false,
                          QStringLiteral("bench"));
        if (keeper) {
            std::fprintf(stderr, "store_bench: the bench participant is held by %s (another run); try again in %d s\n",
                         qPrintable(keeper->Station), kHoldStaleSeconds);
            return 1;
        }
        bareServer = std::make_unique<BareServerInsert>(*server);
    }
    else
        bareFile = std::make_unique<BareInsert>(barePath);
    const auto bareRun = [&](int i) { server ? bareServer->run(i) : bareFile->run(i); };

    const QString table = QStringLiteral("datExperimentTrials");
    const QString status = QStringLiteral("Recording data");
    auto storeAccess = [&](int i) {
        const EventRow row = eventOf(i);
        store.write([&](Connection& c) { EventTable::append(c, row); }, table, status);
    };

    // Warm-up, not counted: the store's first access opens and keys the file.
    constexpr int kWarmUp = 10;
    for (int i = 0; i < kWarmUp; ++i) {
        storeAccess(-1 - i);
        bareRun(-1 - i);
    }

    std::vector<double> storeMs;
    std::vector<double> bareMs;
    storeMs.reserve(count);
    bareMs.reserve(count);
    for (int i = 1; i <= count; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool storeTurn = (turn == 0) == (i % 2 == 0);
            const auto start = SteadyClock::now();
            if (storeTurn)
                storeAccess(i);
            else
                bareRun(i);
            (storeTurn ? storeMs : bareMs).push_back(msSince(start));
        }
    }

    constexpr int kOpenRuns = 10;
    std::vector<double> openMs;
    for (int i = 0; i < kOpenRuns; ++i) {
        const auto start = SteadyClock::now();
        if (server) {
            PGconn* connection = BareServerInsert::connect(*server);
            openMs.push_back(msSince(start));
            PQfinish(connection);
        } else {
            sqlite3* db = openKeyed(keyPath);
            openMs.push_back(msSince(start));
            sqlite3_close_v2(db);
        }
    }

    if (server)
        store.transaction([](Connection& c) { HoldTable::remove(c, QStringLiteral("bench"), QStringLiteral("Demo continuous"),
                                                                benchHolder()); },
                          false, QStringLiteral("bench"));

    const Stats s = stats(storeMs);
    const Stats b = stats(bareMs);
    const Stats o = stats(openMs);
    std::printf("store_bench: %d iterations of each kind (after %d warm-up), alternating, in %s\n",
                count, kWarmUp,
                qPrintable(server ? server->describe() : QDir::toNativeSeparators(folder.path())));
    std::printf("  (a) full store access (Store::write of an event, 40 columns): median %.3f ms, p95 %.3f ms\n",
                s.median, s.p95);
    std::printf("  (b) bare committed INSERT on an open connection:              median %.3f ms, p95 %.3f ms\n",
                b.median, b.p95);
    std::printf("  ratio (a)/(b): median %.2f, p95 %.2f\n", s.median / b.median, s.p95 / b.p95);
    std::printf(server ? "  connecting to the server (median of %d): %.3f ms, %.1f bare inserts' worth\n"
                       : "  opening and keying a file (median of %d): %.3f ms, %.1f bare inserts' worth\n",
                kOpenRuns, o.median, o.median / b.median);
    return 0;
}
