// The scripted participant: whole sessions of a three-period version played through the
// real trial screen with orders from a file and from the policies, in both kinds of play,
// what they store and the summary printed, the new database it makes for itself, and its
// refusals.

#include "config/BonusBand.h"
#include "support/TempDatabase.h"
#include "support/ToolRun.h"
#include "tools/BotCommand.h"
#include "tools/Progress.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace aquilevel;
using namespace aquilevel::tools;
using aquilevel::test::TempDatabase;

namespace {

const QString kVersion = QStringLiteral("Bot3");
const QString kTimeDriven = QStringLiteral("Bot3 clock");

// The demo configuration plus Bot3: three participant-paced periods, simTimeForTP 2, an
// environment of 1 in / 3 out in period 0 and 2 in / 1 out afterwards.
TempDatabase& database()
{
    static TempDatabase db(TempDatabase::Content::Demo);
    static const bool filled = [] {
        QVariantMap row = test::soundSetupRow(kVersion);
        row[QStringLiteral("MaxTrial")] = 3;
        row[QStringLiteral("ScenarioUsed")] = 71;
        row[QStringLiteral("simTimeForTP")] = 2.0;
        test::insertSetup(db, row);
        test::insertLabels(db, kVersion, row.value(QStringLiteral("numMarks")).toInt());
        test::insertScenario(db, 71, 0, 0, 1, 3);
        test::insertScenario(db, 71, 1, 3, 2, 1);
        // The same on the environment's clock, which runs for a pilot at the bot's pace.
        row[QStringLiteral("Version")] = kTimeDriven;
        row[QStringLiteral("IsTimeDriven")] = 1;
        row[QStringLiteral("TimeBetweenEnvTries")] = 60000.0;
        test::insertSetup(db, row);
        test::insertLabels(db, kTimeDriven, row.value(QStringLiteral("numMarks")).toInt());
        return true;
    }();
    Q_UNUSED(filled);
    return db;
}

using Result = test::ToolResult;

Result bot(const QStringList& arguments, const QString& dataFolder = database().folder())
{
    return test::runTool(runBot, dataFolder, arguments);
}

QList<double> numbers(const TempDatabase& db, const QString& column, const QString& subject,
                      const QString& eventType, const QString& version = kVersion)
{
    QList<double> values;
    for (const QVariant& v :
         db.column(QStringLiteral("select %1 from datExperimentTrials where Subject=$1 and Version=$2 "
                                  "and eventType=$3 order by EventID, rowid")
                       .arg(column),
                   {subject, version, eventType}))
        values.append(v.toDouble());
    return values;
}

QString summaryValue(const QString& out, const QString& label)
{
    const QRegularExpression line(QStringLiteral("^%1: (.*)$").arg(QRegularExpression::escape(label)),
                                  QRegularExpression::MultilineOption);
    return line.match(out).captured(1).trimmed();
}

// The summary the rows of a finished session must give.
void checkSummary(const TempDatabase& db, const QString& subject, const QString& out)
{
    const QList<double> amounts = numbers(db, QStringLiteral("AmountInTank"), subject, QStringLiteral("After Cost Calculation"));
    const QList<double> goals = numbers(db, QStringLiteral("GoalAmount"), subject, QStringLiteral("After Cost Calculation"));
    const QList<double> bonus = numbers(db, QStringLiteral("TotBonus"), subject, QStringLiteral("After Cost Calculation"));
    QCOMPARE(amounts.size(), 3);
    int inBand = 0;
    double distance = 0;
    for (int i = 0; i < amounts.size(); ++i) {
        inBand += config::inBonusBand(amounts.at(i), goals.at(i), 1, 1) ? 1 : 0;
        distance += std::abs(amounts.at(i) - goals.at(i));
    }
    QCOMPARE(summaryValue(out, QStringLiteral("Periods")), QStringLiteral("3 of 3"));
    QCOMPARE(summaryValue(out, QStringLiteral("Periods in the band")), QString::number(inBand));
    QCOMPARE(summaryValue(out, QStringLiteral("Earnings")), formatMoney(bonus.last()));
    QCOMPARE(summaryValue(out, QStringLiteral("Mean absolute distance from the goal")),
             QString::number(distance / 3, 'f', 3));
}

} // namespace

class TestBot : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        database();
        QVERIFY(m_dir.isValid());
    }

    // Orders from a file, two lines for three periods: the last line repeats. Every
    // period is submitted with the file's orders, closed by one cost calculation, and
    // the summary and the picture show the stored session.
    void ordersFromFile()
    {
        const QString csv = m_dir.filePath(QStringLiteral("orders.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# inflow,outflow\n1,0\n\n0.5, 2\n");
        file.close();
        const QString png = m_dir.filePath(QStringLiteral("csv.png"));
        const Result r = bot({QStringLiteral("--version"), kVersion, QStringLiteral("--subject"), QStringLiteral("csv1"),
                              QStringLiteral("--orders"), csv, QStringLiteral("--db"), database().path(),
                              QStringLiteral("--report"), png});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(numbers(database(), QStringLiteral("UserInFlow"), QStringLiteral("csv1"), QStringLiteral("Submit Clicked")),
                 QList<double>({1, 0.5, 0.5}));
        QCOMPARE(numbers(database(), QStringLiteral("UserOutFlow"), QStringLiteral("csv1"), QStringLiteral("Submit Clicked")),
                 QList<double>({0, 2, 2}));
        QCOMPARE(numbers(database(), QStringLiteral("Trial"), QStringLiteral("csv1"), QStringLiteral("After Cost Calculation")),
                 QList<double>({1, 2, 3}));
        checkSummary(database(), QStringLiteral("csv1"), r.out);
        QVERIFY2(r.err.contains(QStringLiteral("period 1 of 3\nperiod 2 of 3\nperiod 3 of 3\n")), qPrintable(r.err));
        const QImage picture(png);
        QCOMPARE(picture.size(), kDefaultReportSize);
        // Registered as the login registers a participant, without what nobody was asked.
        const QList<QVariantMap> registered = database().rows(
            QStringLiteral("select Condition, Major, Gender, Age, Date, Time from datSubject where Subject = 'csv1'"));
        QCOMPARE(registered.size(), 1);
        QCOMPARE(registered.first().value(QStringLiteral("Condition")).toString(), QStringLiteral("continuous"));
        QCOMPARE(registered.first().value(QStringLiteral("Date")).toString(), QDate::currentDate().toString(Qt::ISODate));
        QVERIFY(QTime::fromString(registered.first().value(QStringLiteral("Time")).toString(), QStringLiteral("HH:mm:ss")).isValid());
        QVERIFY(registered.first().value(QStringLiteral("Age")).isNull());
        // Marked a pilot as it is registered.
        QCOMPARE(database().rows(QStringLiteral("select Mark, Reason from datSubjectMark where Subject = 'csv1'")),
                 (QList<QVariantMap>{{{QStringLiteral("Mark"), QStringLiteral("pilot")},
                                      {QStringLiteral("Reason"), QStringLiteral("played by bot")}}}));

        // The same participant again would mix two sessions: refused, nothing written.
        const Result again = bot({QStringLiteral("--version"), kVersion, QStringLiteral("--subject"), QStringLiteral("csv1"),
                                  QStringLiteral("--orders"), csv, QStringLiteral("--db"), database().path()});
        QCOMPARE(again.status, 1);
        QVERIFY2(again.err.contains(QStringLiteral("already has a session")), qPrintable(again.err));
        QCOMPARE(numbers(database(), QStringLiteral("Trial"), QStringLiteral("csv1"), QStringLiteral("Submit Clicked")).size(), 3);
    }

    // The hold policy orders back the environment's net flow of the period before, times
    // simTimeForTP: period 0 took 2 away (4 over a period of 2), the later ones added 1.
    void holdPolicy()
    {
        QCOMPARE(holdOrder(1, 3, 2).inflow, QStringLiteral("4"));
        QCOMPARE(holdOrder(1, 3, 2).outflow, QStringLiteral("0"));
        QCOMPARE(holdOrder(2, 1, 0.5).inflow, QStringLiteral("0"));
        QCOMPARE(holdOrder(2, 1, 0.5).outflow, QStringLiteral("0.5"));
        QCOMPARE(holdOrder(2, 2, 1).inflow, QStringLiteral("0"));
        QCOMPARE(holdOrder(2, 2, 1).outflow, QStringLiteral("0"));

        const Result r = bot({QStringLiteral("--version"), kVersion, QStringLiteral("--subject"), QStringLiteral("hold1"),
                              QStringLiteral("--policy"), QStringLiteral("hold"), QStringLiteral("--db"), database().path()});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(numbers(database(), QStringLiteral("UserInFlow"), QStringLiteral("hold1"), QStringLiteral("Submit Clicked")),
                 QList<double>({4, 0, 0}));
        QCOMPARE(numbers(database(), QStringLiteral("UserOutFlow"), QStringLiteral("hold1"), QStringLiteral("Submit Clicked")),
                 QList<double>({0, 2, 2}));
        checkSummary(database(), QStringLiteral("hold1"), r.out);

        // Anchoring and adjustment: the net outflow expected, plus half the gap to the
        // goal, less 0.3 of what is on its way.
        QCOMPARE(anchorOrder(2, 50, 40, 4, 0.5, 0.3).inflow, QStringLiteral("5.8"));
        QCOMPARE(anchorOrder(2, 50, 40, 4, 0.5, 0.3).outflow, QStringLiteral("0"));
        QCOMPARE(anchorOrder(-1, 10, 20, -2, 0.5, 0.5).inflow, QStringLiteral("0"));
        QCOMPARE(anchorOrder(-1, 10, 20, -2, 0.5, 0.5).outflow, QStringLiteral("5"));
        // Over a demo version's 20 periods it steers into the band, which hold never does.
        const auto inBand = [&](const QString& subject, const QStringList& policy) {
            const Result played = bot(QStringList{QStringLiteral("--version"), QStringLiteral("Demo continuous"),
                                                  QStringLiteral("--subject"), subject, QStringLiteral("--db"),
                                                  database().path()} + policy);
            return played.status == 0 ? summaryValue(played.out, QStringLiteral("Periods in the band")).toInt() : -1;
        };
        const int held = inBand(QStringLiteral("hold20"), {QStringLiteral("--policy"), QStringLiteral("hold")});
        const int anchored = inBand(QStringLiteral("anchor20"), {QStringLiteral("--policy"), QStringLiteral("anchor")});
        QVERIFY2(held >= 0 && anchored > held + 5, qPrintable(QStringLiteral("%1 %2").arg(held).arg(anchored)));
    }

    // Time-driven play: the clock opens every period; the bot submits on its schedule
    // or never.
    void timeDriven()
    {
        const auto play = [&](const QString& subject, const QStringList& options) {
            return bot(QStringList{QStringLiteral("--version"), kTimeDriven, QStringLiteral("--subject"), subject,
                                   QStringLiteral("--db"), database().path(), QStringLiteral("--clock"),
                                   QStringLiteral("150")} + options);
        };
        const Result alone = play(QStringLiteral("clock1"), {QStringLiteral("--schedule"), QStringLiteral("never")});
        QVERIFY2(alone.status == 0, qPrintable(alone.err));
        QCOMPARE(summaryValue(alone.out, QStringLiteral("Periods")), QStringLiteral("3 of 3"));
        QVERIFY(summaryValue(alone.out, QStringLiteral("Submits")).startsWith(QStringLiteral("0 ")));
        QVERIFY(numbers(database(), QStringLiteral("Trial"), QStringLiteral("clock1"), QStringLiteral("Submit Clicked"),
                        kTimeDriven).isEmpty());
        QCOMPARE(database().column(QStringLiteral("select count(*) from datTrialSummary where Subject = 'clock1' "
                                                  "and Version = $1"), {kTimeDriven}).value(0).toInt(), 3);

        const QString csv = m_dir.filePath(QStringLiteral("clock.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("inflow,outflow\n1,0\n0,2\n");
        file.close();
        const Result timed = play(QStringLiteral("clock2"), {QStringLiteral("--schedule"), QStringLiteral("5,20"),
                                                             QStringLiteral("--orders"), csv});
        QVERIFY2(timed.status == 0, qPrintable(timed.err));
        // Each submit acts on the period it falls in, the last one included; a loaded
        // machine may miss one, and a press that the last tick overtakes stores nothing.
        const QList<double> periods = numbers(database(), QStringLiteral("Trial"), QStringLiteral("clock2"),
                                              QStringLiteral("Submit Clicked"), kTimeDriven);
        const QList<double> in = numbers(database(), QStringLiteral("UserInFlow"), QStringLiteral("clock2"),
                                         QStringLiteral("Submit Clicked"), kTimeDriven);
        const int submits = summaryValue(timed.out, QStringLiteral("Submits")).section(QLatin1Char(' '), 0, 0).toInt();
        QVERIFY2(!periods.isEmpty() && submits >= periods.size() && submits <= periods.size() + 1, qPrintable(timed.out));
        for (int i = 0; i < periods.size(); ++i)
            QCOMPARE(in.at(i), periods.at(i) == 1 ? 1.0 : 0.0);

        // The clock's options belong to time-driven play.
        const Result paced = bot({QStringLiteral("--version"), kVersion, QStringLiteral("--db"), database().path(),
                                  QStringLiteral("--schedule"), QStringLiteral("5")});
        QCOMPARE(paced.status, 1);
        QVERIFY2(paced.err.contains(QStringLiteral("participant-paced")), qPrintable(paced.err));
        QCOMPARE(play(QStringLiteral("clock3"), {QStringLiteral("--schedule"), QStringLiteral("soon")}).status, 2);
    }

    // Without --db: a new database in a temporary folder with a copy of the version's
    // configuration; the data folder's database gets nothing.
    void freshDatabase()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const QByteArray before = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        const Result r = bot({QStringLiteral("--version"), kVersion, QStringLiteral("--subject"), QStringLiteral("fresh1")});
        qputenv("TMPDIR", before);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QString path = summaryValue(r.out, QStringLiteral("Database"));
        QVERIFY2(path.startsWith(temp.path()), qPrintable(path));
        QVERIFY(database().column(QStringLiteral("select count(*) from datExperimentTrials where Subject=$1"),
                                  {QStringLiteral("fresh1")}).first().toInt() == 0);

        TempDatabase fresh; // only to read another file: point it at the new one
        QFile::remove(fresh.path());
        QVERIFY(QFile::copy(path, fresh.path()));
        QCOMPARE(fresh.column(QStringLiteral("select Version from tblSetup")), QVariantList({kVersion}));
        QCOMPARE(fresh.column(QStringLiteral("select count(*) from tblScenarios")).first().toInt(), 4);
        QCOMPARE(fresh.column(QStringLiteral("select count(*) from tblPasswords")).first().toInt(), 0);
        QCOMPARE(numbers(fresh, QStringLiteral("Trial"), QStringLiteral("fresh1"), QStringLiteral("After Cost Calculation")),
                 QList<double>({1, 2, 3}));
    }

    // A bot killed (kill -9) in the middle of its session, then a login with its name:
    // the session is continued where it stopped, every EventID once, every period once.
    void killedBotIsTakenUpByTheLogin()
    {
        const TempDatabase& db = database();
        QStringList columns = db.rows(QStringLiteral("select * from tblSetup")).value(0).keys();
        columns.removeAll(QStringLiteral("Version"));
        columns.removeAll(QStringLiteral("VersionKey"));
        db.exec(QStringLiteral("insert into tblSetup (Version, VersionKey, %1) select 'Bot20', 'bot20', %1 from "
                               "tblSetup where Version = 'Demo continuous'").arg(columns.join(QLatin1Char(','))));
        // On a clock of 200 ms, so that the kill comes in the middle.
        db.exec(QStringLiteral("update tblSetup set userDelay = 1, envDelay = 1, UsrMv = 1, EnvMv = 1, IsTimeDriven = 1, "
                               "TimeBetweenEnvTries = 200 where Version = 'Bot20'"));
        db.exec(QStringLiteral("insert into tblLabels (version, LabelNumber, LabelName, VersionKey) select 'Bot20', "
                               "LabelNumber, LabelName, 'bot20' from tblLabels where version = 'Demo continuous'"));
        QProcess killed;
        killed.start(qEnvironmentVariable("AQUILEVEL_TEST_BIN") + QStringLiteral("/aquilevel"),
                     {QStringLiteral("--data"), db.folder(), QStringLiteral("bot"), QStringLiteral("--version"),
                      QStringLiteral("Bot20"), QStringLiteral("--subject"), QStringLiteral("killed1"),
                      QStringLiteral("--db"), db.path()});
        killed.setReadChannel(QProcess::StandardError);
        QByteArray progress;
        while (!progress.contains("period 6 of") && killed.waitForReadyRead(30000))
            progress += killed.readAllStandardError();
        killed.kill();
        killed.waitForFinished();
        const auto periods = [&] {
            QList<double> opened;
            for (const QVariant& t : db.column(QStringLiteral("select Trial from datTrialSummary where Subject = "
                                                              "'killed1' and Version = 'Bot20' order by Trial")))
                opened.append(t.toDouble());
            return opened;
        };
        QVERIFY2(!periods().isEmpty() && periods().size() < 20, qPrintable(QString::fromUtf8(progress)));

        const test::ToolResult resumed = test::runProgram(
            {db.path(), QStringLiteral("Bot20"), QStringLiteral("KILLED1"), QStringLiteral("1,0"), QStringLiteral("-1")}, {},
            QStringLiteral("helper_killedsession"));
        QVERIFY2(resumed.status == 0, qPrintable(resumed.err));
        QList<double> all;
        for (int t = 1; t <= 20; ++t)
            all.append(t);
        QCOMPARE(periods(), all);
        for (const char* doubled : {"count(distinct EventID) from datExperimentTrials",
                                    "count(distinct Trial) from datTrialSummary"})
            QCOMPARE(db.column(QStringLiteral("select count(*) - %1 where Subject = 'killed1' and Version = 'Bot20'")
                                   .arg(QLatin1String(doubled))).value(0).toInt(), 0);
        QCOMPARE(db.column(QStringLiteral("select count(*) from datSubject where Subject = 'killed1'")).value(0).toInt(), 1);
        QCOMPARE(db.column(QStringLiteral("select Mark from datSubjectMark where Subject = 'killed1'")),
                 QVariantList{QStringLiteral("pilot")});
    }

    // Bad input: the line of a bad order, an unknown version, bad options, --help.
    void refusals()
    {
        const QString csv = m_dir.filePath(QStringLiteral("bad.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1,0\n2,-1\n");
        file.close();
        const QStringList db = {QStringLiteral("--db"), database().path()};
        Result r = bot(QStringList{QStringLiteral("--version"), kVersion, QStringLiteral("--orders"), csv} + db);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("line 2")), qPrintable(r.err));
        // An order the screen refuses stops the bot with the screen's message, never a hang.
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("1,0\n99999999,0\n");
        file.close();
        r = bot(QStringList{QStringLiteral("--version"), kVersion, QStringLiteral("--orders"), csv} + db);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("\"99999999\" is more than this task takes")), qPrintable(r.err));
    }

    void refusalsOfArguments()
    {
        QVERIFY_THROWS_EXCEPTION(ToolError, parseOrders(QStringLiteral("1,2\n3\n")));
        QVERIFY_THROWS_EXCEPTION(ToolError, parseOrders(QStringLiteral("1,2,3\n")));
        QVERIFY_THROWS_EXCEPTION(ToolError, parseOrders(QStringLiteral("1e2,0\n")));
        QVERIFY_THROWS_EXCEPTION(ToolError, parseOrders(QStringLiteral("\n# nothing\n")));
        QCOMPARE(parseOrders(QStringLiteral(" .5 , 3.\n")).first().inflow, QStringLiteral(".5"));
        // A header line first, as a spreadsheet writes it; names after the orders are an error.
        QCOMPARE(parseOrders(QStringLiteral("inflow,outflow\n1,2\n")).size(), 1);
        QVERIFY_THROWS_EXCEPTION(ToolError, parseOrders(QStringLiteral("1,2\ninflow,outflow\n")));

        Result r = bot({QStringLiteral("--version"), QStringLiteral("Nope"), QStringLiteral("--db"), database().path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("Nope")), qPrintable(r.err));
        r = bot({QStringLiteral("--version"), QStringLiteral("Nope")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("no version \"Nope\"")), qPrintable(r.err));
        // A fresh database whose session could not be played goes with its folder.
        r = bot({QStringLiteral("--version"), QStringLiteral("Demo continuous"), QStringLiteral("--clock"), QStringLiteral("5")});
        QCOMPARE(r.status, 1);
        const QString fresh = QRegularExpression(QStringLiteral("into (\\S+)/Cistern\\.mdb")).match(r.err).captured(1);
        QVERIFY2(!fresh.isEmpty() && !QFileInfo::exists(fresh), qPrintable(r.err));

        QCOMPARE(bot({QStringLiteral("--bogus")}).status, 2);
        QCOMPARE(bot({}).status, 2);
        QCOMPARE(bot({QStringLiteral("--version"), kVersion, QStringLiteral("--policy"), QStringLiteral("greedy")}).status, 2);
        QCOMPARE(bot({QStringLiteral("--version"), kVersion, QStringLiteral("--alpha"), QStringLiteral("0.5")}).status, 2);
        QCOMPARE(bot({QStringLiteral("--version"), kVersion, QStringLiteral("--policy"), QStringLiteral("anchor"),
                      QStringLiteral("--beta"), QStringLiteral("-1")}).status, 2);
        QCOMPARE(bot({QStringLiteral("--version"), kVersion, QStringLiteral("--policy"), QStringLiteral("hold"),
                      QStringLiteral("--orders"), QStringLiteral("x.csv")}).status, 2);
        for (const char* name : {"a\tb", "a\nb", "a\x1b[2Jb"})
            QCOMPARE(bot({QStringLiteral("--version"), kVersion, QStringLiteral("--subject"), QString::fromLatin1(name)})
                         .status,
                     2);
        r = bot({QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains(QStringLiteral("--policy hold")));
    }

    // The program itself, on the offscreen platform.
    void program()
    {
        qunsetenv("XDG_RUNTIME_DIR"); // as on a lab computer logged in without a desktop
        const Result played = test::runProgram({QStringLiteral("--data"), database().folder(), QStringLiteral("bot"),
                                                QStringLiteral("--version"), kVersion, QStringLiteral("--subject"),
                                                QStringLiteral("binary1"), QStringLiteral("--db"), database().path()});
        QCOMPARE(played.status, 0);
        checkSummary(database(), QStringLiteral("binary1"), played.out);
        // Only the command's own lines: no notes of Qt's about the missing display.
        QVERIFY2(!played.err.contains(QStringLiteral("XDG_RUNTIME_DIR")) &&
                     !played.err.contains(QStringLiteral("propagateSizeHints")),
                 qPrintable(played.err));
        QCOMPARE(test::runProgram({QStringLiteral("bot"), QStringLiteral("--frobnicate")}).status, 2);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestBot)
#include "tst_bot.moc"
