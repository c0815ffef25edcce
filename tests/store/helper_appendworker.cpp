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

// One event row: every one of the 40 columns, in the table's order.
void fillEventRow(RecordSet& rs, const QString& tag, int i)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int trial = i / 4;
    const double amount = 20.0 + (i % 7) * 0.5;
    rs.setField(QStringLiteral("Subject"), tag);
    rs.setField(QStringLiteral("Version"), QStringLiteral("Demo continuous"));
    rs.setField(QStringLiteral("eventType"),
                i % 2 ? QStringLiteral("Submit Clicked") : QStringLiteral("After Cost Calculation"));
    rs.setField(QStringLiteral("EventID"), i);
    rs.setField(QStringLiteral("Trial"), trial);
    rs.setField(QStringLiteral("Date"), now.date());
    rs.setField(QStringLiteral("Time"), now.time().toString(QStringLiteral("HH:mm:ss")));
    rs.setField(QStringLiteral("CurrentCost"), 0.125 * (i % 5));
    rs.setField(QStringLiteral("TotCost"), 0.125 * i);
    rs.setField(QStringLiteral("UserInFlow"), 2.5);
    rs.setField(QStringLiteral("UserOutFlow"), 1.5);
    rs.setField(QStringLiteral("EnvInFlow"), 3.0);
    rs.setField(QStringLiteral("EnvOutFlow"), 2.0);
    rs.setField(QStringLiteral("BackOrder"), 4.0);
    rs.setField(QStringLiteral("ForwardDischarge"), 2.0);
    rs.setField(QStringLiteral("TotalBackOrder"), 8.0);
    rs.setField(QStringLiteral("TotalForwardDischarge"), 4.0);
    rs.setField(QStringLiteral("AmountInTank"), amount);
    rs.setField(QStringLiteral("GoalAmount"), 30.0);
    rs.setField(QStringLiteral("SimulationTime"), 1.0);
    rs.setField(QStringLiteral("BaseMoney"), 5.0);
    rs.setField(QStringLiteral("UserInflowTP"), 3);
    rs.setField(QStringLiteral("UserOutflowTP"), 2);
    rs.setField(QStringLiteral("AfterEveryNTrials"), 1);
    rs.setField(QStringLiteral("IsUserInFlow"), i % 2);
    rs.setField(QStringLiteral("IsUserOutFlow"), (i + 1) % 2);
    rs.setField(QStringLiteral("IsEnvInFlow"), 1);
    rs.setField(QStringLiteral("IsEnvOutFlow"), 1);
    rs.setField(QStringLiteral("graphicalMode"), 1);
    rs.setField(QStringLiteral("BonusAmount"), 0.5);
    rs.setField(QStringLiteral("CurrentBonus"), i % 3 ? 0.0 : 0.5);
    rs.setField(QStringLiteral("TotBonus"), 5.0 + 0.5 * (i / 3));
    rs.setField(QStringLiteral("LowerBoundFromGoal"), 1.0);
    rs.setField(QStringLiteral("UpperBoundFromGoal"), 1.0);
    rs.setField(QStringLiteral("ExperimentTimeForInstructions"), 30);
    rs.setField(QStringLiteral("MaxNumberOfAScenarioType"), 60);
    rs.setField(QStringLiteral("IsTimeDriven"), 0);
    rs.setField(QStringLiteral("IsBonusOnTimeGap"), 0);
    rs.setField(QStringLiteral("TimeBetweenEnvTries"), 5000.0);
    rs.setField(QStringLiteral("deltaTmeBetweenEnvUsr"), 2000.0);
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
            auto rs = store.OpenTable(table, false, status);
            rs->addNew();
            fillEventRow(*rs, tag, i);
            rs->update();
            rs->close();
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
