// The store's retry policy, driven through a scripted engine on a real file: which
// failures are retried how, how long the back-off waits, which questions are asked with
// which words, and what each answer does.

#include "session/Prompter.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/Store.h"
#include "support/FakeEngine.h"
#include "support/Fakes.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDatabase.h"
#include "support/TestSession.h"

#include <QtTest>

using namespace aquilevel;
using namespace aquilevel::store;
using aquilevel::test::FakeEngine;

namespace {

constexpr int kLockNumber = 3050;
const QString kTable = QStringLiteral("datExperimentTrials");
const QString kStatus = QStringLiteral("Recording data");

EventRow eventRow(const QString& subject, qint32 trial = 0)
{
    EventRow row;
    row.Subject = subject;
    row.Version = QStringLiteral("v");
    row.eventType = QStringLiteral("Submit");
    row.Trial = trial;
    return row;
}

// A store on a scripted engine; giving up is recorded instead of ending anything.
struct Rig {
    explicit Rig(QList<double> randomValues = {0.5}) : random(std::move(randomValues))
    {
        auto owned = std::make_unique<FakeEngine>(db.engine());
        engine = owned.get();
        store = std::make_unique<Store>(std::move(owned), prompter, pacer, random,
                                        [this] { ++giveUps; });
    }

    // One full access of the event log: open, append one row, release.
    void appendRow(const QString& subject = QStringLiteral("p01"))
    {
        store->write([&](Connection& c) { EventTable::append(c, eventRow(subject)); }, kTable, kStatus);
        store->CloseTable();
    }

    void readVersions(const QString& status = QStringLiteral("Loading versions"))
    {
        store->read([](Connection& c) { SetupTable::versions(c); }, QStringLiteral("tblSetup"), status);
    }

    // The event rows the file holds: Subject and Trial, in the order written.
    QList<QVariantMap> stored() const
    {
        return db.rows(QStringLiteral("SELECT \"Subject\", \"Trial\" FROM \"datExperimentTrials\" ORDER BY rowid"));
    }

    // Attempts of the opening step: the opens logged before the table was first touched.
    int opens() const
    {
        int count = 0;
        for (const QString& entry : std::as_const(engine->log)) {
            if (!entry.startsWith(QStringLiteral("open ")))
                break;
            ++count;
        }
        return count;
    }

    test::TempDatabase db;
    FakeEngine* engine = nullptr;
    test::ScriptedPrompter prompter;
    test::RecordingPacer pacer;
    test::FixedRandom random;
    int giveUps = 0;
    std::unique_ptr<Store> store;
};

// The back-off log for waits of w × n² for n in counts, each after one round of events.
QStringList backOff(qint64 w, const QList<int>& counts)
{
    QStringList log;
    for (int n : counts)
        log << QStringLiteral("events") << QStringLiteral("wait %1").arg(w * n * n);
    return log;
}

QList<int> range(int from, int to)
{
    QList<int> result;
    for (int n = from; n <= to; ++n)
        result.append(n);
    return result;
}

QString overLimitTitle(int number, const QString& status)
{
    return QStringLiteral("Error %1: %2").arg(number).arg(status);
}

QString overLimitText(int number, const QString& source)
{
    return QStringLiteral("scripted failure %1\r\n%2\r\nRetry? (No to quit)").arg(number).arg(source);
}

QString failureText(int number, const QString& status)
{
    return QStringLiteral("Error %1: scripted failure %1\r\nStatus was %2\r\nRetry?")
        .arg(number)
        .arg(status);
}

void verifyOverLimitQuestion(const Prompter::Prompt& p, int number, const QString& status,
                             const QString& source)
{
    QCOMPARE(p.title, overLimitTitle(number, status));
    QCOMPARE(p.text, overLimitText(number, source));
    QCOMPARE(p.icon, Prompter::Icon::Question);
    QCOMPARE(p.buttons, Prompter::Buttons::YesNo);
}

void verifyFailureQuestion(const Prompter::Prompt& p, int number, const QString& status)
{
    QCOMPARE(p.title, QStringLiteral("Problems opening table"));
    QCOMPARE(p.text, failureText(number, status));
    QCOMPARE(p.icon, Prompter::Icon::None);
    QCOMPARE(p.buttons, Prompter::Buttons::YesNo);
}

} // namespace

class TestRetryPolicy : public QObject {
    Q_OBJECT

private slots:
    // --- lock conflicts: counting, waiting and the over-limit question ---

    void tenLockFailuresAreRetriedSilentlyWithGrowingWaits()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 10);
        rig.appendRow();

        QVERIFY(rig.prompter.prompts().isEmpty());
        // r = 0.5 gives w = 2500; the wait grows with the square of the count.
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 10)));
        QCOMPARE(rig.pacer.waits.last(), qint64(250000));
        QCOMPARE(rig.opens(), 11);
        QCOMPARE(rig.stored().size(), 1);
        QCOMPARE(rig.giveUps, 0);
    }

    void waitBaseIsTheWholePartOfAFreshRandomEachTime()
    {
        // w = int(r × 3000 + 1000): 1000 for r = 0, 3999 just below 1, drawn anew per wait.
        Rig rig({0.0, 0.99999999, 0.5, 0.33333});
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 4);
        rig.appendRow();
        QCOMPARE(rig.pacer.waits,
                 (QList<qint64>{1000 * 1, 3999 * 4, 2500 * 9, 1999 * 16}));
    }

    void eleventhLockFailureAsksTheOverLimitQuestion()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 11);
        rig.prompter.queueYes();
        rig.appendRow();

        QCOMPARE(rig.prompter.prompts().size(), 1);
        verifyOverLimitQuestion(rig.prompter.prompts().first(), kLockNumber, kStatus, kTable);
        // The question comes after the tenth wait and before the eleventh.
        QCOMPARE(rig.pacer.waits.size(), 11);
        QCOMPARE(rig.prompter.unexpected(), 0);
    }

    void yesRestartsTheCountAtOneAndTheQuestionReturnsAfterTenMore()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 21);
        rig.prompter.queueYes(2);
        rig.appendRow();

        // Failures 1-10 silent; 11 asks, Yes waits as for count 1; 12-20 silent with
        // counts 2-10; 21 asks again, Yes waits as for count 1 once more.
        QCOMPARE(rig.prompter.prompts().size(), 2);
        for (const auto& p : rig.prompter.prompts())
            verifyOverLimitQuestion(p, kLockNumber, kStatus, kTable);
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 10)) + backOff(2500, range(1, 10)) +
                                    backOff(2500, {1}));
        QCOMPARE(rig.stored().size(), 1);
    }

    void noThenYesRetriesAtOnceAndTheNextLockFailureAsksAgainAtOnce()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 12);
        rig.prompter.queueNo();  // over-limit question
        rig.prompter.queueYes(); // failure question: retry at once
        rig.prompter.queueYes(); // over-limit question again, for the twelfth failure
        rig.appendRow();

        const auto& prompts = rig.prompter.prompts();
        QCOMPARE(prompts.size(), 3);
        verifyOverLimitQuestion(prompts.at(0), kLockNumber, kStatus, kTable);
        verifyFailureQuestion(prompts.at(1), kLockNumber, kStatus);
        verifyOverLimitQuestion(prompts.at(2), kLockNumber, kStatus, kTable);
        // No wait between the failure question's Yes and the twelfth attempt; the Yes to
        // the second over-limit question waits as for count 1.
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 10)) + backOff(2500, {1}));
        QCOMPARE(rig.opens(), 13);
        QCOMPARE(rig.giveUps, 0);
    }

    void noThenNoGivesUpAndWritesNothing()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 11);
        rig.prompter.queueNo(2);
        QVERIFY_THROWS_EXCEPTION(StoreAborted, rig.appendRow());
        QVERIFY(rig.stored().isEmpty());

        QCOMPARE(rig.giveUps, 1);
        QCOMPARE(rig.prompter.prompts().size(), 2);
        verifyFailureQuestion(rig.prompter.prompts().at(1), kLockNumber, kStatus);
        QCOMPARE(rig.pacer.waits.size(), 10); // nothing after the last No
        QCOMPARE(rig.opens(), 11);            // and no further attempt
        QVERIFY(!rig.store->isBusy());
    }

    // --- the other three classes ---

    void concurrentChangeRetriesAtOnceHoweverOften()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::ConcurrentChange, 3197, 500);
        rig.engine->failWrite(ErrorClass::ConcurrentChange, 3197, 500);
        rig.appendRow();

        QVERIFY(rig.prompter.prompts().isEmpty());
        QVERIFY(rig.pacer.log.isEmpty());
        QCOMPARE(rig.stored().size(), 1);
        QCOMPARE(rig.engine->count(QStringLiteral("insert ") + kTable), 501);
    }

    void concurrentChangeDoesNotCountTowardsTheLockLimit()
    {
        Rig rig;
        for (int i = 0; i < 10; ++i) {
            rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 1);
            rig.engine->failOpen(ErrorClass::ConcurrentChange, 3197, 3);
        }
        rig.appendRow();
        QVERIFY(rig.prompter.prompts().isEmpty());
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 10)));
    }

    void lostHandleDiscardsAndStartsOverWithoutResettingTheCount()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 3);
        rig.engine->failOpen(ErrorClass::LostHandle, 91, 1);
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 1);
        rig.appendRow();

        QVERIFY(rig.prompter.prompts().isEmpty());
        // The lock failure after the restart is the fourth of this access.
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 4)));
        const QStringList expected = {"open rw", "open rw", "open rw", "open rw", "discard",
                                      "open rw", "open rw", "insert " + kTable};
        QCOMPARE(rig.engine->log.mid(0, expected.size()), expected);
    }

    void lostHandleDuringAWriteReopensAndWritesAgain()
    {
        Rig rig;
        rig.engine->failWrite(ErrorClass::LostHandle, 91, 2);
        rig.appendRow();

        QVERIFY(rig.prompter.prompts().isEmpty());
        QVERIFY(rig.pacer.log.isEmpty());
        const QString insert = QStringLiteral("insert ") + kTable;
        const QStringList expectedTail = {"open rw", insert, "discard", "open rw", insert,
                                          "discard", "open rw", insert, "release"};
        QCOMPARE(rig.engine->log.mid(rig.engine->log.size() - expectedTail.size()), expectedTail);
        QCOMPARE(rig.stored().size(), 1);
    }

    void aHandleLostOverAndOverIsPutToThePersonInTheEnd()
    {
        // A broken engine must not keep the program in a silent loop forever.
        Rig rig;
        rig.engine->failOpen(ErrorClass::LostHandle, 91, 1000);
        rig.prompter.queueNo();
        QVERIFY_THROWS_EXCEPTION(StoreAborted, rig.appendRow());
        QCOMPARE(rig.prompter.prompts().size(), 1);
        verifyFailureQuestion(rig.prompter.prompts().first(), 91, kStatus);
        QCOMPARE(rig.engine->log.count(QStringLiteral("open rw")),
                 rig.engine->log.count(QStringLiteral("discard")));
        QVERIFY(rig.engine->log.count(QStringLiteral("open rw")) < 100);
        QCOMPARE(rig.giveUps, 1);
    }

    void otherFailureAsksTheFailureQuestion_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::newRow("Yes retries at once") << true;
        QTest::newRow("No gives up") << false;
    }

    void otherFailureAsksTheFailureQuestion()
    {
        QFETCH(bool, retry);
        Rig rig;
        rig.engine->failOpen(ErrorClass::Other, 3044, 1);
        rig.prompter.queue(retry ? Prompter::Answer::Yes : Prompter::Answer::No);
        const QString status = QStringLiteral("Loading versions");

        if (retry) {
            rig.readVersions(status);
            QCOMPARE(rig.opens(), 2);
            QVERIFY(rig.engine->log.contains(QStringLiteral("query tblSetup")));
        } else {
            QVERIFY_THROWS_EXCEPTION(StoreAborted, rig.readVersions(status));
            QCOMPARE(rig.opens(), 1);
            QVERIFY(!rig.engine->log.contains(QStringLiteral("query tblSetup")));
        }
        QCOMPARE(rig.prompter.prompts().size(), 1);
        verifyFailureQuestion(rig.prompter.prompts().first(), 3044, status);
        QVERIFY(rig.pacer.log.isEmpty());
        QCOMPARE(rig.giveUps, retry ? 0 : 1);
    }

    // --- where the count starts ---

    void everyAccessStartsCountingAtZero()
    {
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 5);
        rig.readVersions();
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 5)));

        rig.pacer.log.clear();
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 1);
        rig.readVersions();
        QCOMPARE(rig.pacer.log, backOff(2500, {1}));

        // A write is an access of its own as well.
        rig.pacer.log.clear();
        rig.engine->failWrite(ErrorClass::LockConflict, 3260, 2);
        rig.appendRow();
        QCOMPARE(rig.pacer.log, backOff(2500, {1, 2}));
        QVERIFY(rig.prompter.prompts().isEmpty());
    }

    void countsOfOneAccessDoNotLeakIntoTheNext()
    {
        // Ten silent failures in each of two accesses: neither reaches the question.
        Rig rig;
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 10);
        rig.appendRow();
        rig.engine->failOpen(ErrorClass::LockConflict, kLockNumber, 10);
        rig.appendRow();
        QVERIFY(rig.prompter.prompts().isEmpty());
        QCOMPARE(rig.stored().size(), 2);
    }

    // --- writes ---

    void writeFailuresFollowTheSamePolicy()
    {
        Rig rig;
        rig.engine->failWrite(ErrorClass::LockConflict, 3260, 11);
        rig.prompter.queueYes();
        rig.store->write([](Connection& c) { EventTable::append(c, eventRow(QStringLiteral("p07"), 3)); }, kTable,
                         kStatus);

        QCOMPARE(rig.prompter.prompts().size(), 1);
        verifyOverLimitQuestion(rig.prompter.prompts().first(), 3260, kStatus, kTable);
        QCOMPARE(rig.pacer.log, backOff(2500, range(1, 10)) + backOff(2500, {1}));
        QCOMPARE(rig.engine->count(QStringLiteral("insert ") + kTable), 12);
        // Exactly one row arrived.
        QCOMPARE(rig.stored().size(), 1);
        QCOMPARE(rig.stored().first().value(QStringLiteral("Subject")).toString(), QStringLiteral("p07"));
        QCOMPARE(rig.stored().first().value(QStringLiteral("Trial")).toInt(), 3);
    }

    void failedEditIsAskedAboutWithItsOwnStatus()
    {
        Rig rig;
        rig.db.append(QStringLiteral("datTrialSummary"), {{QStringLiteral("Subject"), QStringLiteral("p01")},
                                                          {QStringLiteral("Version"), QStringLiteral("v")},
                                                          {QStringLiteral("Trial"), 1},
                                                          {QStringLiteral("AmountInTank"), 0.0}});
        rig.engine->failWrite(ErrorClass::Other, 3022, 1);
        rig.prompter.queueYes();

        const QString status = QStringLiteral("Recording Amount");
        bool completed = false;
        rig.store->write(
            [&](Connection& c) {
                PeriodCompleted values;
                values.AmountInTank = 12.5;
                completed = TrialSummaryTable::complete(c, QStringLiteral("p01"), QStringLiteral("v"), 1, values);
            },
            QStringLiteral("datTrialSummary"), status);

        QCOMPARE(rig.prompter.prompts().size(), 1);
        verifyFailureQuestion(rig.prompter.prompts().first(), 3022, status);
        QCOMPARE(rig.engine->count(QStringLiteral("update datTrialSummary")), 2);
        QVERIFY(completed);
        QCOMPARE(rig.db.column(QStringLiteral("SELECT \"AmountInTank\" FROM \"datTrialSummary\"")),
                 QVariantList({12.5}));
    }

    void lockFailuresOnAReadOnlyQueryNameItsSource()
    {
        Rig rig;
        const QString source = QStringLiteral("tblPasswords");
        const QString status = QStringLiteral("Checking password");
        rig.engine->failOpen(ErrorClass::LockConflict, 3260, 11);
        rig.prompter.queueYes();
        rig.store->read([](Connection& c) { PasswordTable::password(c, QStringLiteral("admin")); }, source,
                        status);
        QCOMPARE(rig.prompter.prompts().size(), 1);
        // The source shown is what was read, never a value looked for.
        verifyOverLimitQuestion(rig.prompter.prompts().first(), 3260, status, source);
        QVERIFY(!rig.prompter.prompts().first().text.contains(QStringLiteral("admin")));
        QVERIFY(rig.engine->log.contains(QStringLiteral("open ro")));
    }

    // --- inside a session ---

    void declinedAccessEndsTheSessionThroughEndGame_data()
    {
        QTest::addColumn<bool>("lock");
        QTest::addColumn<int>("trial");
        // Before any period the experimenter is told, and the status says it failed.
        QTest::newRow("failure question, before any period") << false << 0;
        QTest::newRow("over-limit then failure question, in period 3") << true << 3;
    }

    void declinedAccessEndsTheSessionThroughEndGame()
    {
        QFETCH(bool, lock);
        QFETCH(int, trial);
        test::TempDatabase db;
        auto owned = std::make_unique<FakeEngine>(db.engine());
        FakeEngine* engine = owned.get();
        test::TestSession t(std::move(owned));
        t.session.state.Trial = trial;
        if (lock) {
            engine->failOpen(ErrorClass::LockConflict, kLockNumber, 11);
            t.prompter.queueNo(2);
        } else {
            engine->failOpen(ErrorClass::Other, 3044, 1);
            t.prompter.queueNo();
        }

        bool ended = false;
        try {
            t.session.store().read([](Connection& c) { SetupTable::versions(c); }, QStringLiteral("tblSetup"),
                                   QStringLiteral("Loading versions"));
        } catch (const test::ProcessEnded& end) {
            ended = true;
            QCOMPARE(end.exitCode, trial > 0 ? 0 : 1);
        }
        QVERIFY(ended);
        QCOMPARE(t.processEnd.calls, 1);

        const auto& prompts = t.prompter.prompts();
        QCOMPARE(prompts.size(), lock ? 3 : 2);
        verifyFailureQuestion(prompts.at(prompts.size() - 2), lock ? kLockNumber : 3044,
                              QStringLiteral("Loading versions"));
        const auto& last = prompts.last();
        QCOMPARE(last.title, QStringLiteral("Aquilevel"));
        QCOMPARE(last.buttons, Prompter::Buttons::Ok);
        QVERIFY2(last.text.startsWith(trial > 0 ? QStringLiteral("The game is over and you have earned 00.00 dollars.")
                                                : QStringLiteral("The session ended before any period")),
                 qPrintable(last.text));
        if (lock) {
            // The session's own random generator sets the waits: 1000-3999 × n².
            QCOMPARE(t.pacer.waits.size(), 10);
            for (int n = 1; n <= 10; ++n) {
                const qint64 w = t.pacer.waits.at(n - 1) / (n * n);
                QCOMPARE(w * n * n, t.pacer.waits.at(n - 1));
                QVERIFY2(w >= 1000 && w <= 3999, qPrintable(QString::number(w)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRetryPolicy)
#include "tst_retrypolicy.moc"
