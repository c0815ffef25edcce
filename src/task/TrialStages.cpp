// The trial screen's handlers: Submit, the exit paths, and the timers that carry a
// period through its steps.

#include "task/TrialScreen.h"

#include "config/NumberFormat.h"
#include "recording/TrialSummary.h"
#include "session/Clock.h"
#include "session/EndGame.h"
#include "session/PasswordGate.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "task/TankDrawing.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>

namespace aquilevel::task {

namespace {

QString format000(double value)
{
    return config::format000(value);
}

// An order as typed: where the decimal separator is a comma, a typed comma is the
// decimal point (the entry filter lets it through only there).
QString orderText(const QLineEdit* box)
{
    QString text = box->text();
    return text.replace(QLatin1Char(','), QLatin1Char('.'));
}

} // namespace

QTime TrialScreen::timeOfDay() const
{
    const QTime now = m_session.clock().now().time();
    return QTime(now.hour(), now.minute(), now.second());
}

void TrialScreen::guarded(void (TrialScreen::*handler)())
{
    // A granted exit ends the session inside the gate's event loop; whatever falls due
    // before that loop has returned belongs to a session that is over.
    if (m_over || m_session.state.ExitGranted)
        return;
    if (m_session.store().isBusy()) {
        // The store lets window events through while it waits out a lock; whatever
        // falls due then runs once the access has finished, never inside it.
        QTimer::singleShot(1, this, [this, handler] { guarded(handler); });
        return;
    }
    QString failure;
    try {
        // Everything one handler writes reaches the file together or not at all: a crash
        // between two of its rows would leave a step that no resume can tell apart.
        store::Store::Group step(m_session.store());
        (this->*handler)();
        step.commit();
    } catch (const SessionOver&) {
        endHere();
        return;
    } catch (const std::exception& error) {
        // The half-done step has been dropped with its group.
        failure = QString::fromStdString(error.what());
    }
    if (failure.isNull())
        return;
    try {
        m_session.prompter().inform(
            kProgramTitle, QStringLiteral("Aquilevel stopped because of an internal error:\n%1").arg(failure),
            Prompter::Icon::Critical);
        EndGame(m_session);
    } catch (const SessionOver&) {
        endHere();
    }
}

void TrialScreen::stopEverything()
{
    for (QTimer* t : {m_timer1, m_timer2, m_envDelay, m_envMv, m_userDelay, m_userMv})
        t->stop();
    m_submit->setEnabled(false);
    setEntriesEnabled(false);
}

void TrialScreen::setEntriesEnabled(bool enabled)
{
    m_inflow->setEnabled(enabled);
    m_outflow->setEnabled(enabled);
}

void TrialScreen::focusInflow()
{
    m_inflow->setFocus(Qt::OtherFocusReason);
    m_inflow->selectAll();
}

// --- Submit and leaving ------------------------------------------------------------

bool TrialScreen::entriesAreNumbers()
{
    // The boxes take only digits and points; a lone point or two points are no number.
    static const QRegularExpression number(QStringLiteral(R"(^(\d+\.?\d*|\.\d+)?$)"));
    for (QLineEdit* box : {m_inflow, m_outflow}) {
        if (number.match(orderText(box)).hasMatch())
            continue;
        const QString which = box == m_inflow ? QStringLiteral("inflow") : QStringLiteral("outflow");
        m_session.prompter().inform(
            kProgramTitle,
            QStringLiteral("The %1 \"%2\" is not a number. Please type a number such as 2 or 2.5.")
                .arg(which, box->text()),
            Prompter::Icon::Exclamation);
        box->setFocus();
        box->selectAll();
        return false;
    }
    return true;
}

void TrialScreen::submitClicked()
{
    if (!m_submit->isEnabled() || !entriesAreNumbers())
        return;
    SessionState& s = m_session.state;
    m_submit->setEnabled(false);
    s.tank.SubmitTime = timeOfDay();
    if (!s.setup.IsTimeDriven)
        s.tank.PeriodEndTime = timeOfDay();
    // The press is stored by the submit stage, together with the orders it opens the
    // period with: what the rows say about the press is taken now.
    m_press = Press{s.Trial, m_inflow->text().isEmpty(), m_outflow->text().isEmpty()};
    m_timer1->start(1);
}

void TrialScreen::exitKey()
{
    if (m_over || m_gateOpen)
        return;
    const bool no = !m_session.prompter().confirm(QStringLiteral("Exit Application"),
                                                  QStringLiteral("Are you sure you want to exit?"));
    if (no)
        return;
    openGate();
}

void TrialScreen::openGate()
{
    m_gateOpen = true;
    try {
        PasswordGate::ask(m_session, this);
    } catch (const SessionOver&) {
        m_gateOpen = false;
        endHere();
        return;
    }
    m_gateOpen = false;
}

void TrialScreen::endHere()
{
    stopEverything();
    m_over = true;
    emit sessionOver();
}

void TrialScreen::windowLost()
{
    if (m_over)
        return;
    if (m_session.store().isBusy()) {
        QTimer::singleShot(20, this, [this] { windowLost(); });
        return;
    }
    stopEverything();
    m_over = true;
    std::fprintf(stderr, "The trial window was destroyed from outside; the session ends here "
                         "(every step so far is stored).\n");
    try {
        EndProcess(m_session, 1);
    } catch (const SessionOver&) {
        emit sessionOver();
    }
}

void TrialScreen::closeEvent(QCloseEvent* event)
{
    if (m_over) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_gateOpen) // a close already waiting on the gate
        return;
    openGate();
}

void TrialScreen::reject()
{
    // Escape does not leave the task.
}

// --- The stages of a period ----------------------------------------------------------

void TrialScreen::onTimer1()
{
    SessionState& s = m_session.state;
    if (m_press) {
        recording::AddSubmitTime(m_session, m_press->trial);
        if (!s.setup.IsTimeDriven)
            recording::AddTrialSummary(m_session, m_press->inflowEmpty, m_press->outflowEmpty);
        m_press.reset();
    }
    if (s.Trial < s.setup.MaxTrial) {
        s.tank.PeriodStartTime = timeOfDay();
        setEntriesEnabled(false);
        for (QLineEdit* box : {m_inflow, m_outflow})
            if (box->text().isEmpty())
                box->setText(QStringLiteral("0"));
        m_model.submitOrders(orderText(m_inflow).toDouble(), orderText(m_outflow).toDouble());
        findChild<QLabel*>(QStringLiteral("lblCurrTimePeriod"))->setText(QString::number(s.Trial));
        if (!s.setup.IsTimeDriven)
            m_model.EnvironmentDecision();
    }
    if (s.setup.IsTimeDriven)
        m_model.processDecision();
}

void TrialScreen::onTimer2()
{
    SessionState& s = m_session.state;
    TankState& tank = s.tank;
    tank.PeriodEndTime = timeOfDay();
    if (s.Trial >= s.setup.MaxTrial)
        EndGame(m_session);
    recording::AddTrialSummary(m_session, m_inflow->text().isEmpty(), m_outflow->text().isEmpty());
    tank.EnvActedThisPeriod = false;
    s.Trial = recording::nextCount(s.Trial, "Trial");
    tank.PeriodStartTime = timeOfDay();
    tank.UserInFlow[s.Trial] = 0;
    tank.UserOutFlow[s.Trial] = 0;
    findChild<QLabel*>(QStringLiteral("lblCurrTimePeriod"))->setText(QString::number(s.Trial));
    if (tank.UserFlowInPlay)
        m_model.EnvironmentDecision();
    else
        m_model.processDecision();
}

void TrialScreen::onEnvDelay()
{
    const SessionState& s = m_session.state;
    const double in = s.EnvInFlow.value(s.Trial);
    const double out = s.EnvOutFlow.value(s.Trial);
    const double sim = s.setup.simTimeForTP;
    if (in > 0 || out > 0) {
        SetEnvInputCell(0, QString());
        BlankCell(1, 0);
        SetEnvInputCell(1, QStringLiteral("ENV: ") + config::pointNumber(sim * in));
        LightInflowCell(1, 1);
        SetEnvOutputCell(0, QString());
        BlankCell(3, 0);
        SetEnvOutputCell(1, QStringLiteral("ENV: ") + config::pointNumber(sim * out));
        LightOutflowCell(1, 1);
        blankFlowTag(FlowTag::EnvInflow);
        blankFlowTag(FlowTag::EnvOutflow);
    }
    m_envMv->start(s.setup.EnvMv);
}

void TrialScreen::onEnvMv()
{
    SessionState& s = m_session.state;
    if (s.EnvInFlow.value(s.Trial) > 0 || s.EnvOutFlow.value(s.Trial) > 0) {
        for (qint16 i = 0; i < 2; ++i) {
            SetEnvInputCell(i, QString());
            SetEnvOutputCell(i, QString());
        }
        BlankCell(1, 0);
        BlankCell(1, 1);
        BlankCell(3, 0);
        BlankCell(3, 1);
    }
    if (!s.setup.IsTimeDriven) {
        m_model.processDecision();
        return;
    }
    m_model.CalCost(s.tank.AmountInTank);
    recording::UpdateTrialSummary(m_session);
    m_model.recordEvent(QStringLiteral("After Cost Calculation"));
    refreshEnvironmentValues();
    refreshTankValues();
    m_timer2->start(int(config::roundHalfEven(s.setup.TimeBetweenEnvTries)));
}

void TrialScreen::onUserDelay()
{
    m_model.deliverDueOrders();
    refreshEnvironmentValues();
    refreshUserValues();
    refreshTankValues();
    m_userMv->start(m_session.state.setup.UsrMv);
}

void TrialScreen::onUserMv()
{
    SessionState& s = m_session.state;
    for (qint16 i = 0; i < 2; ++i) {
        SetUserInputCell(i, QString());
        SetUserOutputCell(i, QString());
    }
    BlankCell(0, 0);
    BlankCell(0, 1);
    BlankCell(2, 0);
    BlankCell(2, 1);
    m_model.closePeriod();
    m_submit->setEnabled(true);
    setEntriesEnabled(true);
    m_inflow->setText(QStringLiteral("0"));
    m_outflow->setText(QStringLiteral("0"));
    focusInflow();
    recording::UpdateTrialSummary(m_session);
    setStatus(QString());
    if (s.setup.IsTimeDriven) {
        if (!s.tank.EnvActedThisPeriod)
            m_model.EnvironmentDecision();
    } else if (s.Trial == s.setup.MaxTrial) {
        EndGame(m_session);
    }
}

// --- Value labels ----------------------------------------------------------------------

void TrialScreen::refreshEnvironmentValues()
{
    const SessionState& s = m_session.state;
    findChild<QLabel*>(QStringLiteral("lblInFlowStatusEnvVal"))->setText(format000(s.EnvInFlow.value(s.Trial)));
    findChild<QLabel*>(QStringLiteral("lblOutFlowStatusEnvVal"))->setText(format000(s.EnvOutFlow.value(s.Trial)));
}

void TrialScreen::refreshUserValues()
{
    const SessionState& s = m_session.state;
    // The participant's own order due this period; 0 while initial orders arrive.
    const qint32 inSource = s.Trial - (s.setup.inFlowTPAfter - 1);
    const qint32 outSource = s.Trial - (s.setup.outFlowTPAfter - 1);
    findChild<QLabel*>(QStringLiteral("lblInFlowStatusVal"))
        ->setText(format000(inSource < 1 ? 0 : s.tank.UserInFlow.value(inSource)));
    findChild<QLabel*>(QStringLiteral("lblOutFlowStatusVal"))
        ->setText(format000(outSource < 1 ? 0 : s.tank.UserOutFlow.value(outSource)));
}

void TrialScreen::refreshTankValues()
{
    const TankState& tank = m_session.state.tank;
    findChild<QLabel*>(QStringLiteral("lblGoalStatusVal"))->setText(format000(tank.GoalAmount / tank.UnitScale));
    findChild<QLabel*>(QStringLiteral("lblAmountStatusVal"))->setText(format000(tank.AmountInTank / tank.UnitScale));
    findChild<QLabel*>(QStringLiteral("lblBackOrderVal"))->setText(format000(tank.TotalBackOrder));
    findChild<QLabel*>(QStringLiteral("lblForwardOrderVal"))->setText(format000(tank.TotalForwardDischarge));
}

} // namespace aquilevel::task
