// One participant's session through the real start-up, login and trial screen, offscreen,
// answered by a driver as a participant and an experimenter would; the process dies with
// exit code 9, as under kill -9, right after a chosen number of committed writes.
//
//   helper_killedsession DB VERSION SUBJECT ORDERS DIE_AFTER
//
// ORDERS: "in,out in,out ...", one pair a period (time-driven: a Submit in each of those
// periods once the environment has acted, and the clock's next tick held back until the
// Submit's user step has ended, however slow the machine). DIE_AFTER: commits before
// dying; -1 never.
// Prints "COMMITS n" and the earnings message at a normal end.

#include "materials/Questionnaire.h"
#include "session/Clock.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "Startup.h"
#include "store/DataLocation.h"
#include "store/SqlCipherEngine.h"
#include "support/FakeEngine.h"
#include "support/TempDatabase.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <set>

using namespace aquilevel;

namespace {

int g_commits = 0;
int g_dieAfter = -1;

void committed()
{
    ++g_commits;
    if (g_commits == g_dieAfter) {
        std::fflush(stdout);
        std::_Exit(9);
    }
}

// Continues every interrupted session; prints the earnings message.
class AnsweringPrompter final : public Prompter {
public:
    Answer ask(const Prompt& prompt) override
    {
        if (prompt.text.startsWith(QStringLiteral("The game is over")))
            std::printf("COMMITS %d\n%s\n", g_commits, qPrintable(prompt.text));
        else if (prompt.buttons != Buttons::YesNo)
            std::fprintf(stderr, "message: %s\n", qPrintable(prompt.text));
        return prompt.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
};

// Swallows a timer's events while `holding` says so.
class ClockHold final : public QObject {
public:
    explicit ClockHold(std::function<bool()> holding) : m_holding(std::move(holding)) {}

    void watch(QTimer* timer)
    {
        if (timer && timer != m_timer) {
            m_timer = timer;
            timer->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::Timer && m_holding();
    }

private:
    std::function<bool()> m_holding;
    QTimer* m_timer = nullptr;
};

template <typename T>
T* child(QWidget* w, const char* name)
{
    return w->findChild<T*>(QLatin1String(name));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s DB VERSION SUBJECT ORDERS DIE_AFTER\n", argv[0]);
        return 2;
    }
    const QString version = QString::fromUtf8(argv[2]);
    const QString subject = QString::fromUtf8(argv[3]);
    QList<QPair<QString, QString>> orders;
    for (const QString& pair : QString::fromUtf8(argv[4]).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        orders.append({pair.section(QLatin1Char(','), 0, 0), pair.section(QLatin1Char(','), 1, 1)});
    g_dieAfter = QByteArray(argv[5]).toInt();

    AnsweringPrompter prompter;
    SystemClock clock;
    ImmediateProcessEnd processEnd;
    store::RealPacer pacer;
    // Counts the writes that reach the file: a write outside a transaction, or a commit.
    auto engine = std::make_unique<test::FakeEngine>(
        std::make_unique<store::SqlCipherEngine>(QString::fromUtf8(argv[1]), store::databasePassword()));
    engine->onKept = committed;
    Session session({prompter, clock, processEnd, pacer}, std::move(engine));
    session.setQuestionnaire([&session] { Questionnaire::run(session); });
    SessionState& s = session.state;

    std::set<qint32> submitted; // time-driven: the periods this process has submitted in
    // Time-driven: the clock's tick waits while the participant still has to submit in the
    // period, or the Submit's user step is running (a swallowed timer event comes again
    // one interval later).
    const auto screenTimer = [](const char* name) -> QTimer* {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("frmCistern"))
                return w->findChild<QTimer*>(QLatin1String(name));
        return nullptr;
    };
    ClockHold hold([&] {
        const qint32 period = s.Trial;
        if (period >= 1 && period <= orders.size() && !submitted.count(period))
            return true;
        for (const char* t : {"Timer1", "tmrUserDelay", "tmrUserMv"})
            if (QTimer* timer = screenTimer(t); timer && timer->isActive())
                return true;
        return false;
    });
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            const QString name = modal->objectName();
            if (name == QStringLiteral("frmLogin")) {
                child<QLineEdit>(modal, "txtName")->setText(subject);
                child<QComboBox>(modal, "cboVersion")->setEditText(version);
                child<QPushButton>(modal, "cmdStart")->click();
            } else if (name == QStringLiteral("frmSubjectInfo")) {
                child<QLineEdit>(modal, "txtAge")->setText(QStringLiteral("30"));
                child<QRadioButton>(modal, "optMale")->click();
                child<QComboBox>(modal, "cboMajor")->setEditText(QStringLiteral("Physics"));
                child<QPushButton>(modal, "btnBegin")->click();
            } else if (name == QStringLiteral("frmInstructions")) {
                child<QPushButton>(modal, "cmdRight")->click();
                child<QPushButton>(modal, "cmdContinue")->click();
            } else if (name == QStringLiteral("Tasks1")) {
                child<QComboBox>(modal, "Combo1")->setEditText(QStringLiteral("7"));
                for (const char* box : {"Text2", "Text3"}) {
                    if (auto* t = child<QTextEdit>(modal, box))
                        t->setPlainText(QStringLiteral("steady"));
                    else if (auto* p = child<QPlainTextEdit>(modal, box))
                        p->setPlainText(QStringLiteral("steady"));
                }
                child<QPushButton>(modal, "Command1")->click();
            }
            return;
        }
        QWidget* screen = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("frmCistern") && w->isVisible())
                screen = w;
        if (!screen)
            return;
        if (s.setup.IsTimeDriven)
            hold.watch(child<QTimer>(screen, "Timer2"));
        auto* submit = child<QPushButton>(screen, "cmdNextTrial");
        if (!submit->isEnabled())
            return;
        qint32 period = s.Trial + 1;
        if (s.setup.IsTimeDriven) {
            // Once per period, when the environment has acted and nothing else is running.
            period = s.Trial;
            for (const char* t : {"Timer1", "tmrEnvDelay", "tmrEnvMv", "tmrUserDelay", "tmrUserMv"})
                if (child<QTimer>(screen, t)->isActive())
                    return;
            if (period < 1 || period > orders.size() || !s.tank.EnvActedThisPeriod ||
                submitted.count(period))
                return;
            submitted.insert(period);
            // A period whose Submit was stored before the crash is not submitted again.
            bool before = false;
            session.store().read(
                [&](store::Connection& c) {
                    before = !test::rowsIn(c, QStringLiteral("SELECT 1 FROM \"datExperimentTrials\" WHERE \"Subject\" = $1 "
                                                             "AND \"Version\" = $2 AND \"Trial\" = $3 "
                                                             "AND \"eventType\" = 'Submit Clicked'"),
                                           {s.Subject, s.Version, period})
                                  .isEmpty();
                },
                QStringLiteral("datExperimentTrials"), QStringLiteral("test"));
            if (before)
                return;
        }
        if (orders.isEmpty())
            return;
        const auto& order = orders.at(qMin<qsizetype>(period - 1, orders.size() - 1));
        child<QLineEdit>(screen, "txtUsrInflowVal")->setText(order.first);
        child<QLineEdit>(screen, "txtUsrOutflowVal")->setText(order.second);
        submit->click();
    });
    driver.start(2);

    Main(session, StartupOptions{0});
    return app.exec();
}
