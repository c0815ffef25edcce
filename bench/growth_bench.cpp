// What the reads and writes of a session and of the monitor cost as a lab's database
// grows over the years: the same operations on a database of a few participants and on
// one of many, grown through the store's own table homes, with the ratio large / small.
// A ratio near 1 means the operation does not grow with the lab's history.
//
//   growth_bench [--small N] [--large N] [--folder DIR] [--server URL]
//
// Each participant of the grown database has played a whole session long ago: a
// registration, 90 events, 20 summary rows, 20 submit times and 3 answers. Then, on each
// size: the login's lookup of a name, the resume's reads (newest event, last opened
// period, last press), one event written by a session, and the monitor's read of the
// participants active in the last hour (eight of them), the search for damaged pages
// (of the pages a session touches, of every page in steps, and SQLite's quick_check); and the peak memory and time of
// `aquilevel export` of everything and, on the file, `aquilevel copy` to a new file (the
// program beside this one, as child processes); and the longest a station's event write
// took while `export`, `payments`, `check` and `report --version` read everything. With --server the same on the lab's
// server (a database of its own: the tables are created in it when missing).

#include "store/DataLocation.h"
#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/EngineChoice.h"
#include "store/Pacer.h"
#include "store/RetryQuestions.h"
#include "store/Store.h"
#include "store/TableRows.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>

using namespace aquilevel;
using namespace aquilevel::store;

namespace {

using SteadyClock = std::chrono::steady_clock;

class NoQuestions final : public RetryQuestions {
public:
    bool askRetry(const QString& title, const QString& text, bool) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        return false;
    }
};

class NoRandom final : public RandomSource {
public:
    double next() override { return 0.5; }
};

EventRow eventOf(const QString& subject, int id)
{
    EventRow row;
    row.Subject = subject;
    row.Version = QStringLiteral("Demo continuous");
    row.eventType = QStringLiteral("After Cost Calculation");
    row.EventID = id;
    row.Trial = id / 4;
    row.Date = QDate(2024, 3, 1);
    row.Time = QStringLiteral("10:00:00");
    row.AmountInTank = 40.0 + id % 7;
    row.BaseMoney = 5;
    return row;
}

// Grows the database to `participants` sessions played long ago, in transactions of a
// hundred participants each.
void grow(Store& store, int from, int participants, const QString& prefix)
{
    const QString longAgo = QStringLiteral("2024-03-01T10:00:00.000Z");
    for (int first = from; first < participants; first += 100) {
        store.transaction(
            [&](Connection& c) {
                for (int p = first; p < std::min(participants, first + 100); ++p) {
                    const QString subject = prefix + QString::number(p);
                    SubjectTable::append(c, {subject, QStringLiteral("Demo continuous"), QStringLiteral("continuous"),
                                             QStringLiteral("Physics"), QStringLiteral("f"), 30, QDate(2024, 3, 1),
                                             QStringLiteral("10:00:00")});
                    const TableDef& events = *findTable(QStringLiteral("datExperimentTrials"));
                    QStringList columns = EventRow::columns();
                    columns << QString::fromLatin1(kEventTimeColumn);
                    for (int id = 1; id <= 90; ++id)
                        appendRow(c, events, columns, eventOf(subject, id).values() << longAgo);
                    for (int t = 1; t <= 20; ++t) {
                        PeriodOpened opened;
                        opened.Subject = subject;
                        opened.Version = QStringLiteral("Demo continuous");
                        opened.Trial = t;
                        TrialSummaryTable::append(c, opened);
                        SubmitTimeTable::append(c, {subject, QStringLiteral("Demo continuous"), t, QDate(2024, 3, 1),
                                                    QTime(10, 0, t)});
                    }
                    for (int q = 1; q <= 3; ++q)
                        QuestionnaireTable::append(c, {subject, QStringLiteral("Demo continuous"), q, QStringLiteral("5")});
                }
            },
            false, QStringLiteral("Growing"));
    }
}

// The median time of `runs` calls, in milliseconds.
double median(int runs, const std::function<void(int)>& operation)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = SteadyClock::now();
        operation(i);
        times.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

struct Figures {
    double login = 0, resume = 0, write = 0, monitor = 0;
    // The search for damaged pages: a session's start (its own pages), a command's (all).
    double sessionPages = 0, everyPage = 0, quickCheck = 0;
    double exportMs = 0, exportMb = 0, copyMs = 0, copyMb = 0;
    // A station's longest event write while each of the experimenter's commands reads.
    double duringExport = 0, duringPayments = 0, duringCheck = 0, duringReport = 0;
};

// Runs the program with the arguments; its time in ms and its peak memory in MB. While it
// runs, `meanwhile` is called again and again.
std::pair<double, double> runProgram(const QStringList& arguments, const std::function<void()>& meanwhile = {})
{
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/aquilevel"));
    std::vector<QByteArray> texts{program};
    for (const QString& a : arguments)
        texts.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);
    const auto start = SteadyClock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(child, &status, meanwhile ? WNOHANG : 0, &usage) == 0)
        meanwhile();
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) // check says 1 when it finds a problem
        std::fprintf(stderr, "%s %s failed\n", program.constData(), qPrintable(arguments.join(QLatin1Char(' '))));
    return {ms, usage.ru_maxrss / 1024.0};
}

Figures measure(Store& store, int participants, const QString& prefix, int& nextEvent)
{
    QRandomGenerator random(7);
    Figures f;
    f.login = median(50, [&](int) {
        const QString name = prefix + QString::number(random.bounded(participants)).toUpper();
        store.read([&](Connection& c) { SubjectTable::registeredName(c, QStringLiteral("demo CONTINUOUS"), name); },
                   QStringLiteral("datSubject"), QStringLiteral("Check New User"));
    });
    f.resume = median(50, [&](int) {
        const QString name = prefix + QString::number(random.bounded(participants));
        store.read(
            [&](Connection& c) {
                EventTable::newest(c, name, QStringLiteral("Demo continuous"));
                TrialSummaryTable::lastOpened(c, name, QStringLiteral("Demo continuous"));
                SubmitTimeTable::lastPress(c, name, QStringLiteral("Demo continuous"));
            },
            QStringLiteral("datExperimentTrials"), QStringLiteral("Getting last trial"));
    });
    // Eight participants playing now; their rows carry this moment.
    f.write = median(80, [&](int i) {
        const EventRow row = eventOf(prefix + QStringLiteral("now-") + QString::number(i % 8), ++nextEvent);
        store.write([row](Connection& c) { EventTable::append(c, row); }, QStringLiteral("datExperimentTrials"),
                    QStringLiteral("Recording data"));
    });
    const QStringList columns = {QStringLiteral("Subject"), QStringLiteral("Version"), QStringLiteral("eventType"),
                                 QStringLiteral("Trial"), QStringLiteral("TotBonus")};
    f.monitor = median(20, [&](int) {
        store.read(
            [&](Connection& c) {
                EventTable::newestOfEach(c, columns, QString(), QDateTime::currentDateTimeUtc().addSecs(-3600));
            },
            QStringLiteral("datExperimentTrials"), QStringLiteral("Reading progress"));
    });
    f.sessionPages = median(9, [&](int) { refuseDamage(store.engine(), Sweep::SessionPages); });
    f.everyPage = median(3, [&](int) { refuseDamage(store.engine(), Sweep::EveryPage); });
    f.quickCheck = median(3, [&](int) { refuseDamage(store.engine(), Sweep::Whole); });
    return f;
}

// The program's arguments that name the database measured.
QStringList databaseArguments(const QString& where, const QString& folder, const QString& server)
{
    return where == QLatin1String("server") ? QStringList{QStringLiteral("--server"), server}
                                            : QStringList{QStringLiteral("--data"), folder};
}

// Runs the experimenter's commands that read the whole history, while a station writes
// an event every few milliseconds; the longest of those writes is kept.
void measureCommands(Figures& f, Store& store, const QString& prefix, int& nextEvent, const QString& where,
                     const QString& folder, const QString& server)
{
    QTemporaryDir out;
    double* longest = nullptr;
    const auto station = [&] {
        const EventRow row = eventOf(prefix + QStringLiteral("now-0"), ++nextEvent);
        const auto start = SteadyClock::now();
        store.write([row](Connection& c) { EventTable::append(c, row); }, QStringLiteral("datExperimentTrials"),
                    QStringLiteral("Recording data"));
        *longest = std::max(*longest, std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
        ::usleep(5000);
    };
    const QStringList on = databaseArguments(where, folder, server);
    longest = &f.duringExport;
    std::tie(f.exportMs, f.exportMb) = runProgram(on + QStringList{QStringLiteral("export"), out.path() + QStringLiteral("/x")}, station);
    longest = &f.duringPayments;
    runProgram(on + QStringList{QStringLiteral("payments")}, station);
    longest = &f.duringCheck;
    runProgram(on + QStringList{QStringLiteral("check")}, station);
    longest = &f.duringReport;
    runProgram(on + QStringList{QStringLiteral("report"), QStringLiteral("--version"), QStringLiteral("Demo continuous"),
                                QStringLiteral("--out"), out.path() + QStringLiteral("/v.png")},
               station);
    if (where == QLatin1String("file"))
        std::tie(f.copyMs, f.copyMb) = runProgram({QStringLiteral("copy"), QStringLiteral("--from"), databasePath(folder),
                                                   QStringLiteral("--to"), out.path() + QStringLiteral("/copy.mdb")});
}

void run(std::unique_ptr<Engine> engine, const QString& where, int small, int large, const QString& folder,
         const QString& server)
{
    NoQuestions questions;
    RealPacer pacer;
    NoRandom random;
    if (!engine->holdsTables())
        engine->create({});
    Store store(std::move(engine), questions, pacer, random, {});
    // Names of their own, so that a server database can be measured more than once.
    const QString prefix = QStringLiteral("grow-%1-").arg(QDateTime::currentMSecsSinceEpoch());
    int nextEvent = 1000;
    grow(store, 0, small, prefix);
    Figures a = measure(store, small, prefix, nextEvent);
    store.CloseTable();
    measureCommands(a, store, prefix, nextEvent, where, folder, server);
    grow(store, small, large, prefix);
    Figures b = measure(store, large, prefix, nextEvent);
    store.CloseTable();
    measureCommands(b, store, prefix, nextEvent, where, folder, server);
    std::printf("%s: %d and %d participants (%d and %d event rows); median ms\n", qPrintable(where), small, large,
                small * 90, large * 90);
    std::printf("  %-34s %10s %10s %8s\n", "", "small", "large", "ratio");
    const auto line = [](const char* what, double x, double y) {
        std::printf("  %-34s %10.3f %10.3f %8.2f\n", what, x, y, x > 0 ? y / x : 0.0);
    };
    line("login: is the name registered", a.login, b.login);
    line("resume: newest event, period, press", a.resume, b.resume);
    line("a session's event written", a.write, b.write);
    line("monitor: the last hour's participants", a.monitor, b.monitor);
    line("damaged pages: a session's own", a.sessionPages, b.sessionPages);
    line("damaged pages: every page, in steps", a.everyPage, b.everyPage);
    line("damaged pages: quick_check", a.quickCheck, b.quickCheck);
    line("longest event written during export", a.duringExport, b.duringExport);
    line("  during payments", a.duringPayments, b.duringPayments);
    line("  during check", a.duringCheck, b.duringCheck);
    line("  during report --version", a.duringReport, b.duringReport);
    line("export of everything, ms", a.exportMs, b.exportMs);
    line("export of everything, peak MB", a.exportMb, b.exportMb);
    if (where == QLatin1String("file")) {
        line("copy to a new file, ms", a.copyMs, b.copyMs);
        line("copy to a new file, peak MB", a.copyMb, b.copyMb);
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the report draws without a screen
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption smallOption(QStringLiteral("small"), QStringLiteral("Participants of the small database."),
                                         QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption largeOption(QStringLiteral("large"), QStringLiteral("Participants of the large database."),
                                         QStringLiteral("N"), QStringLiteral("5000"));
    const QCommandLineOption folderOption(QStringLiteral("folder"), QStringLiteral("Folder for the file."),
                                          QStringLiteral("DIR"));
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("Also on this server."),
                                          QStringLiteral("URL"));
    parser.addOptions({smallOption, largeOption, folderOption, serverOption});
    parser.process(app);
    const int small = parser.value(smallOption).toInt();
    const int large = parser.value(largeOption).toInt();
    QTemporaryDir temporary(parser.isSet(folderOption) ? parser.value(folderOption) + QStringLiteral("/growth-XXXXXX")
                                                       : QDir::tempPath() + QStringLiteral("/growth-XXXXXX"));
    try {
        const QString server = parser.value(serverOption);
        run(engineAt(databasePath(temporary.path())), QStringLiteral("file"), small, large, temporary.path(), server);
        if (parser.isSet(serverOption))
            run(engineAt(server), QStringLiteral("server"), small, large, temporary.path(), server);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
