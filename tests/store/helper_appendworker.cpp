// A stand-in for one running copy of the program that records events: appends rows to
// the event log of a shared database through the store, as fast as it can.
//
//   helper_appendworker <database> <tag> <count> [--gate]
//
// Row i (1..count) has Subject = tag and EventID = i. With --gate the worker opens the
// database, prints "ready" and waits for a line on standard input before it appends,
// so that several workers can be let loose at the same moment. It prints "started <ms>"
// before its first row and "finished <ms>" after its last (milliseconds since the epoch),
// and "backoffs <n>": how often the store had to back off from another worker's lock.
//
// Exit codes: 0 all rows stored; 1 wrong arguments; 2 an error escaped the store;
// 3 the store asked a question (printed to standard error); 4 the store gave up.

#include "session/Headless.h"
#include "session/Session.h"
#include "support/Fakes.h"
#include "store/DataLocation.h"
#include "store/DataTables.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QRandomGenerator>
#include <QTime>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

using namespace aquilevel;
using namespace aquilevel::store;

namespace {

// One event row: every one of the 40 columns.
EventRow eventRow(const QString& tag, int i)
{
    EventRow row;
    const QDateTime now = QDateTime::currentDateTime();
    const int trial = i / 4;
    const double amount = 20.0 + (i % 7) * 0.5;
    row.Subject = tag;
    row.Version = QStringLiteral("Demo continuous");
    row.eventType = i % 2 ? QStringLiteral("Submit Clicked") : QStringLiteral("After Cost Calculation");
    row.EventID = i;
    row.Trial = trial;
    row.Date = now.date();
    row.Time = now.time().toString(QStringLiteral("HH:mm:ss"));
    row.CurrentCost = 0.125 * (i % 5);
    row.TotCost = 0.125 * i;
    row.UserInFlow = 2.5;
    row.UserOutFlow = 1.5;
    row.EnvInFlow = 3.0;
    row.EnvOutFlow = 2.0;
    row.BackOrder = 4.0;
    row.ForwardDischarge = 2.0;
    row.TotalBackOrder = 8.0;
    row.TotalForwardDischarge = 4.0;
    row.AmountInTank = amount;
    row.GoalAmount = 30.0;
    row.SimulationTime = 1.0;
    row.BaseMoney = 5.0;
    row.UserInflowTP = 3;
    row.UserOutflowTP = 2;
    row.AfterEveryNTrials = 1;
    row.IsUserInFlow = i % 2 == 1;
    row.IsUserOutFlow = i % 2 == 0;
    row.IsEnvInFlow = true;
    row.IsEnvOutFlow = true;
    row.graphicalMode = true;
    row.BonusAmount = 0.5;
    row.CurrentBonus = i % 3 ? 0.0 : 0.5;
    row.TotBonus = 5.0 + 0.5 * (i / 3);
    row.LowerBoundFromGoal = 1.0;
    row.UpperBoundFromGoal = 1.0;
    row.ExperimentTimeForInstructions = 30;
    row.MaxNumberOfAScenarioType = 60;
    row.IsTimeDriven = false;
    row.IsBonusOnTimeGap = false;
    row.TimeBetweenEnvTries = 5000.0;
    row.deltaTmeBetweenEnvUsr = 2000.0;
    return row;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool countOk = false;
    const int count = args.value(2).toInt(&countOk);
    if (args.size() < 3 || args.size() > 4 || !countOk || count < 0 ||
        (args.size() == 4 && args.at(3) != QStringLiteral("--gate"))) {
        std::fprintf(stderr, "usage: helper_appendworker <database> <tag> <count> [--gate]\n");
        return 1;
    }
    const QString path = args.at(0);
    const QString tag = args.at(1);
    const bool gate = args.size() == 4;

    // No person sits at a worker: any question means the store could not cope on its own.
    UnattendedPrompter prompter([&tag](const Prompter::Prompt& prompt) {
        std::fprintf(stderr, "worker %s was asked: [%s] %s\n", qPrintable(tag), qPrintable(prompt.title),
                     qPrintable(prompt.text));
        std::fflush(stderr);
        std::_Exit(3);
    });
    test::ProbePacer pacer;
    ProgramRandom random;
    random.seed(qHash(tag) ^ static_cast<quint32>(QCoreApplication::applicationPid()));
    Store store(std::make_unique<SqlCipherEngine>(path, databasePassword()), prompter, pacer,
                random, [&] {
                    std::fprintf(stderr, "worker %s gave up\n", qPrintable(tag));
                    std::_Exit(4);
                });
    const QString status = QStringLiteral("Recording data");
    const QString table = QStringLiteral("datExperimentTrials");

    try {
        if (gate) {
            // Opening derives the key; do it before the start so all workers write together.
            store.retry([](Connection&) {}, false, table, status);
            store.CloseTable();
            std::cout << "ready" << std::endl;
            std::string line;
            std::getline(std::cin, line);
        }
        std::cout << "started " << QDateTime::currentMSecsSinceEpoch() << std::endl;
        for (int i = 1; i <= count; ++i) {
            const EventRow row = eventRow(tag, i);
            store.write([&](Connection& c) { EventTable::append(c, row); }, table, status);
            store.CloseTable();
        }
        std::cout << "finished " << QDateTime::currentMSecsSinceEpoch() << std::endl;
        std::cout << "backoffs " << pacer.waits << std::endl;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "worker %s failed: %s\n", qPrintable(tag), error.what());
        return 2;
    }
    return 0;
}
