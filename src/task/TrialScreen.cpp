#include "task/TrialScreen.h"

#include "config/Languages.h"
#include "config/NumberFormat.h"
#include "session/EndGame.h"
#include "session/PasswordGate.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "task/EntryFilter.h"
#include "task/TankDrawing.h"
#include "task/TankModel.h"

#include <QAbstractNativeEventFilter>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QGridLayout>
#include <QResizeEvent>
#include <QScreen>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

namespace aquilevel::task {

namespace {

// A text's size relative to the screen's base font (the period counter is larger).
const char* const kTextSizeProperty = "aquilevelTextSize";

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 192, 0);
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);

void setTextColor(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// An order as typed: where the decimal separator is a comma, a typed comma is the
// decimal point (the entry filter lets it through only there).
QString orderText(const QLineEdit* box)
{
    QString text = box->text();
    return text.replace(QLatin1Char(','), QLatin1Char('.'));
}

// A value as the participant reads it: in their language's decimal form.
QString shown000(double value)
{
    return config::shownDecimal(config::format000(value));
}

// Money as the screen shows it: one decimal more than the currency has (three for dollars),
// so that a bonus of a fraction of a cent is seen.
QString shownMoney(double value, const config::ExperimentSetup& setup)
{
    return config::shownDecimal(config::formatPadded(value, setup.CurrencyDecimals + 1));
}

} // namespace

TrialScreen::TrialScreen(Session& session, QWidget* parent)
    : QDialog(parent, Qt::Window), m_session(session),
      m_recorder(session.store(), session.clock(), session.state),
      m_cycle(session.state, session.clock(), session.store(), m_recorder, *this, *this, this)
{
    setObjectName(QStringLiteral("frmCistern"));
    setWindowTitle(QStringLiteral("Aquilevel"));
    buildControls();
    // Queued: the hold finds out inside a write, and nothing may wait for a person there.
    connect(&session.hold(), &StationHold::lost, this, &TrialScreen::holdLost, Qt::QueuedConnection);
}

// Destroying a window from outside (another X client) reaches the program only as the
// window system's DestroyNotify: Qt itself neither closes nor hides the widget.
class WindowLossWatch final : public QAbstractNativeEventFilter {
public:
    WindowLossWatch(QWidget& window, std::function<void()> lost) : m_window(window), m_lost(std::move(lost))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~WindowLossWatch() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t" || !m_window.testAttribute(Qt::WA_WState_Created))
            return false;
        // The X protocol's DestroyNotify: type 17, then the event and the window ids.
        const auto* bytes = static_cast<const unsigned char*>(message);
        constexpr unsigned char kDestroyNotify = 17;
        if ((bytes[0] & 0x7f) != kDestroyNotify)
            return false;
        quint32 window = 0;
        std::memcpy(&window, bytes + 8, sizeof window);
        if (window == quint32(m_window.winId()))
            QTimer::singleShot(0, &m_window, m_lost);
        return false;
    }

private:
    QWidget& m_window;
    std::function<void()> m_lost;
};

TrialScreen::~TrialScreen() = default;

QLabel* TrialScreen::addLabel(const char* name, const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLabel* TrialScreen::label(const char* name) const
{
    return findChild<QLabel*>(QString::fromLatin1(name));
}

void TrialScreen::buildControls()
{
    // The period counter, yellow on black.
    auto* counter = new QWidget(this);
    m_counter = counter;
    counter->setAutoFillBackground(true);
    QPalette dark = counter->palette();
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, Qt::white);
    counter->setPalette(dark);
    auto* counterRow = new QHBoxLayout(counter);
    //: The period counter reads "Time Period 3 of 20".
    QLabel* timePeriod = addLabel("lblTimePeriod", tr("Time Period"));
    QLabel* current = addLabel("lblCurrTimePeriod");
    //: Between the two numbers of the period counter: "Time Period 3 of 20".
    QLabel* of = addLabel("lblOf", tr("of"));
    QLabel* total = addLabel("lblTotTimePeriod");
    for (QLabel* l : {timePeriod, current, of, total}) {
        l->setParent(counter);
        counterRow->addWidget(l);
    }
    setTextColor(current, kYellow);
    setTextColor(total, kYellow);
    // The counter's text is bold and larger than the rest; scaleText() sizes it.
    for (QLabel* l : {timePeriod, current, of, total})
        l->setProperty(kTextSizeProperty, 1.3);

    // The values of the period, three rows of two caption/value pairs.
    auto* panel = new QGridLayout;
    const auto pair = [&](int row, int column, const char* caption, const char* captionText,
                          const char* value, const QColor& color) {
        panel->addWidget(addLabel(caption, tr(captionText)), row, column);
        QLabel* v = addLabel(value);
        v->setMinimumWidth(70);
        v->setProperty("aquilevelValue", true);
        setTextColor(v, color);
        panel->addWidget(v, row, column + 1);
    };
    pair(0, 0, "lblInFlowStatusEnv", QT_TR_NOOP("Env InFlow (Units/Sec):"), "lblInFlowStatusEnvVal", kRed);
    pair(0, 2, "lblOutFlowStatusEnv", QT_TR_NOOP("Env OutFlow (Units/Sec):"), "lblOutFlowStatusEnvVal", kGreen);
    pair(1, 0, "lblInFlowStatus", QT_TR_NOOP("UserInFlow (Units/Sec):"), "lblInFlowStatusVal", kRed);
    pair(1, 2, "lblOutFlowStatus", QT_TR_NOOP("UserOutFlow (Units/Sec):"), "lblOutFlowStatusVal", kGreen);
    pair(2, 0, "lblGoalStatus", QT_TR_NOOP("Goal (Gallons):"), "lblGoalStatusVal", kRed);
    pair(2, 2, "lblAmountStatus", QT_TR_NOOP("Amount in Tank (Gallons):"), "lblAmountStatusVal", kBlue);

    auto* top = new QHBoxLayout;
    top->addWidget(counter, 0, Qt::AlignTop);
    top->addStretch();
    top->addLayout(panel);

    // The tank, with the unit name beside its scale.
    m_drawing = new TankDrawing(m_session.state, this);
    m_drawing->setObjectName(QStringLiteral("tankDrawing"));
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_drawing, 1);

    // The two decisions and Submit.
    auto* decisions = new QGridLayout;
    decisions->addWidget(addLabel("lblDecision0", tr("Make Decision->")), 0, 0);
    decisions->addWidget(addLabel("lblInFlow1", tr("Enter the number of Inflow (units/second):")), 0, 1);
    m_inflow = new QLineEdit(this);
    m_inflow->setObjectName(QStringLiteral("txtUsrInflowVal"));
    decisions->addWidget(m_inflow, 0, 2);
    decisions->addWidget(addLabel("lblDecision1", tr("Make Decision->")), 1, 0);
    decisions->addWidget(addLabel("lblOutflow", tr("Enter the number of Outflow (units/second):")), 1, 1);
    m_outflow = new QLineEdit(this);
    m_outflow->setObjectName(QStringLiteral("txtUsrOutflowVal"));
    decisions->addWidget(m_outflow, 1, 2);
    m_submit = new QPushButton(tr("Submit"), this);
    m_submit->setObjectName(QStringLiteral("cmdNextTrial"));
    m_submit->setDefault(true);
    decisions->addWidget(m_submit, 1, 3);
    decisions->setColumnStretch(4, 1);
    connect(m_submit, &QPushButton::clicked, this, [this] {
        m_cycle.submit([this] { return m_submit->isEnabled() && entriesAreNumbers(); });
    });

    // Money, and the pipeline totals at the right.
    auto* money = new QGridLayout;
    money->addWidget(addLabel("lblCurrBonus", tr("Current bonus for the time period is:")), 0, 0);
    money->addWidget(addLabel("lblCurrBonusVal"), 0, 1);
    money->addWidget(addLabel("lblDollar0", QStringLiteral("$")), 0, 2);
    money->addWidget(addLabel("lblAccuBonus", tr("Total money to be paid at the end:")), 1, 0);
    money->addWidget(addLabel("lblAccuBonusVal"), 1, 1);
    money->addWidget(addLabel("lblDollar1", QStringLiteral("$")), 1, 2);
    money->setColumnStretch(3, 1);
    money->addWidget(addLabel("lblBackOrder", tr("Back Order (Gallons):")), 0, 4);
    QLabel* back = addLabel("lblBackOrderVal");
    setTextColor(back, kBlue);
    money->addWidget(back, 0, 5);
    money->addWidget(addLabel("lblForwardOrder", tr("Dch Order (Gallons):")), 1, 4);
    QLabel* forward = addLabel("lblForwardOrderVal");
    setTextColor(forward, kBlue);
    money->addWidget(forward, 1, 5);
    // Costs and the status line are kept up to date but never shown to the participant.
    const std::pair<const char*, const char*> hidden[] = {
        {"lblCurrCost", "Current Cost for the time period is:"},
        {"lblCurrCostVal", ""},
        {"lblAccuCost", "Accumulated Cost for all time periods is:"},
        {"lblAccuCostVal", ""},
        {"lblStatus", "Status:"},
        {"lblStatusValue", ""},
    };
    for (const auto& [name, text] : hidden)
        addLabel(name, QString::fromLatin1(text))->hide();
    setTextColor(findChild<QLabel*>(QStringLiteral("lblStatusValue")), kYellow);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(decisions);
    layout->addLayout(money);

    m_filter = new EntryFilter([this] { exitKey(); }, this);
    m_filter->watchEntry(m_inflow);
    m_filter->watchEntry(m_outflow);
    m_filter->watchExitKeyOnly(m_submit);

    setTabOrder(m_inflow, m_outflow);
    setTabOrder(m_outflow, m_submit);
    m_baseFont = font();
    resize(designSize());
}

void TrialScreen::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    scaleText();
}

void TrialScreen::scaleText()
{
    const double scale = std::clamp(std::min(double(width()) / designSize().width(),
                                             double(height()) / designSize().height()),
                                    0.6, 4.0);
    if (std::abs(scale - m_textScale) < 0.01)
        return;
    m_textScale = scale;
    QFont base = m_baseFont;
    base.setPointSizeF(m_baseFont.pointSizeF() * scale);
    setFont(base);
    for (QLabel* l : findChildren<QLabel*>()) {
        if (l->parentWidget() == m_drawing)
            continue; // the drawing sizes its own labels
        const double size = l->property(kTextSizeProperty).toDouble();
        if (size > 0) {
            QFont f = base;
            f.setBold(true);
            f.setPointSizeF(base.pointSizeF() * size);
            l->setFont(f);
        }
        if (l->parentWidget() == m_counter) // words apart by a space of their own size
            m_counter->layout()->setSpacing(l->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
        if (l->property("aquilevelValue").toBool()) {
            // Empty until the first period, and an empty label is a little taller than
            // one with text: a fixed height keeps the drawing where it is.
            l->setMinimumWidth(int(70 * scale));
            l->setFixedHeight(l->fontMetrics().height());
        }
    }
}

void TrialScreen::showFilling(bool fullScreen)
{
    // Without a window manager the maximised state is only a hint: take the available
    // area first.
    if (QScreen* where = screen())
        setGeometry(where->availableGeometry());
    if (fullScreen)
        showFullScreen();
    else
        showMaximized();
}

void TrialScreen::load()
{
    m_lossWatch = std::make_unique<WindowLossWatch>(*this, [this] { windowLost(); });
    m_cycle.enter();
    const SessionState& s = m_session.state;
    const config::ExperimentSetup& setup = s.setup;
    const TankState& tank = s.tank;

    if (s.Trial == 0) {
        label("lblCurrCostVal")->setText(QStringLiteral("0.00"));
        label("lblAccuCostVal")->setText(QStringLiteral("0.00"));
    } else {
        label("lblCurrCostVal")->setText(config::plainDecimal(tank.CurrentCost));
        label("lblAccuCostVal")->setText(config::plainDecimal(tank.TotCost));
    }
    showPeriodNumber();
    label("lblTotTimePeriod")->setText(QString::number(setup.MaxTrial));
    label("lblDollar0")->setText(setup.CurrencySymbol);
    label("lblDollar1")->setText(setup.CurrencySymbol);
    label("lblCurrBonusVal")->setText(shownMoney(tank.CurrentBonus, setup));
    label("lblAccuBonusVal")->setText(shownMoney(tank.TotBonus, setup));
    for (const char* name : {"lblTimePeriod", "lblCurrTimePeriod", "lblOf", "lblTotTimePeriod"})
        label(name)->setVisible(setup.ShowTimePeriods);
    m_counter->setVisible(setup.ShowTimePeriods); // else its black ground stays behind
    label("lblBackOrder")->setVisible(setup.ShowBackOrder);
    label("lblBackOrderVal")->setVisible(setup.ShowBackOrder);
    label("lblForwardOrder")->setVisible(setup.ShowDischargeOrder);
    label("lblForwardOrderVal")->setVisible(setup.ShowDischargeOrder);
    m_inflow->setText(QStringLiteral("0"));
    m_outflow->setText(QStringLiteral("0"));
    focusInflow();

    const QString& u = setup.YUnits;
    // %1 is the version's unit of amount, such as Gallons.
    label("lblInFlowStatusEnv")->setText(tr("Env InFlow(%1/Time Period):").arg(u));
    label("lblOutFlowStatusEnv")->setText(tr("Env OutFlow(%1/Time Period):").arg(u));
    label("lblInFlowStatus")->setText(tr("UserInFlow(%1/Time Period):").arg(u));
    label("lblOutFlowStatus")->setText(tr("UserOutFlow(%1/Time Period):").arg(u));
    label("lblGoalStatus")->setText(tr("Goal(%1):").arg(u));
    label("lblAmountStatus")->setText(tr("Amount in Tank(%1):").arg(u));
    label("lblInFlow1")->setText(tr("Enter the Inflow(%1/Time Period):").arg(u));
    label("lblOutflow")->setText(tr("Enter the Outflow(%1/Time Period):").arg(u));

    m_drawing->layOut(m_cycle.model().picture());
    label("lblStatusValue")->setText(m_cycle.model().picture().status);
    if (s.Trial != 0)
        showEnvironmentValues();
    showTankValues();
    m_cycle.start();
}

// --- What the cycle shows -----------------------------------------------------------

Orders TrialScreen::orders() const
{
    Orders typed;
    typed.inflowEmpty = m_inflow->text().isEmpty();
    typed.outflowEmpty = m_outflow->text().isEmpty();
    typed.inflow = orderText(m_inflow).toDouble();
    typed.outflow = orderText(m_outflow).toDouble();
    return typed;
}

void TrialScreen::showStage(Stage stage, const PeriodPicture& picture)
{
    const SessionState& s = m_session.state;
    switch (stage) {
    case Stage::Submitted:
        m_submit->setEnabled(false);
        return;
    case Stage::Stopped:
        m_submit->setEnabled(false);
        setEntriesEnabled(false);
        return;
    case Stage::PeriodOpened:
        setEntriesEnabled(false);
        for (QLineEdit* box : {m_inflow, m_outflow})
            if (box->text().isEmpty())
                box->setText(QStringLiteral("0"));
        showPeriodNumber();
        return;
    case Stage::ClockTicked:
        showPeriodNumber();
        return;
    default:
        break;
    }
    m_drawing->showStage(stage, picture);
    label("lblStatusValue")->setText(picture.status);
    switch (stage) {
    case Stage::EnvironmentActs:
        if (!s.setup.IsTimeDriven)
            m_submit->setEnabled(false);
        break;
    case Stage::OrdersDue:
        m_submit->setEnabled(false);
        break;
    case Stage::OrdersDelivered:
        showEnvironmentValues();
        showUserValues();
        showTankValues();
        break;
    case Stage::EnvironmentCosted:
        showMoney();
        showEnvironmentValues();
        showTankValues();
        break;
    case Stage::PeriodClosed:
        showMoney();
        m_submit->setEnabled(true);
        setEntriesEnabled(true);
        m_inflow->setText(QStringLiteral("0"));
        m_outflow->setText(QStringLiteral("0"));
        focusInflow();
        break;
    default:
        break;
    }
}

void TrialScreen::showPeriodNumber()
{
    label("lblCurrTimePeriod")->setText(QString::number(m_session.state.Trial));
}

void TrialScreen::showMoney()
{
    const TankState& tank = m_session.state.tank;
    label("lblCurrBonusVal")->setText(shownMoney(tank.CurrentBonus, m_session.state.setup));
    label("lblAccuBonusVal")->setText(shownMoney(tank.TotBonus, m_session.state.setup));
    label("lblCurrCostVal")->setText(config::format000(tank.CurrentCost)); // hidden from the participant
    label("lblAccuCostVal")->setText(config::format000(tank.TotCost));
}

void TrialScreen::showEnvironmentValues()
{
    const SessionState& s = m_session.state;
    label("lblInFlowStatusEnvVal")->setText(shown000(s.EnvInFlow.value(s.Trial)));
    label("lblOutFlowStatusEnvVal")->setText(shown000(s.EnvOutFlow.value(s.Trial)));
}

void TrialScreen::showUserValues()
{
    const SessionState& s = m_session.state;
    // The participant's own order due this period; 0 while initial orders arrive.
    const qint32 inSource = s.Trial - (s.setup.inFlowTPAfter - 1);
    const qint32 outSource = s.Trial - (s.setup.outFlowTPAfter - 1);
    label("lblInFlowStatusVal")->setText(shown000(inSource < 1 ? 0 : s.tank.UserInFlow.value(inSource)));
    label("lblOutFlowStatusVal")->setText(shown000(outSource < 1 ? 0 : s.tank.UserOutFlow.value(outSource)));
}

void TrialScreen::showTankValues()
{
    const TankState& tank = m_session.state.tank;
    label("lblGoalStatusVal")->setText(shown000(tank.GoalAmount / tank.UnitScale));
    label("lblAmountStatusVal")->setText(shown000(tank.AmountInTank / tank.UnitScale));
    label("lblBackOrderVal")->setText(shown000(tank.TotalBackOrder));
    label("lblForwardOrderVal")->setText(shown000(tank.TotalForwardDischarge));
}

// --- The end of the session ---------------------------------------------------------

void TrialScreen::allPeriodsPlayed()
{
    EndGame(m_session);
}

void TrialScreen::stepFailed(const QString& reason)
{
    m_session.prompter().inform(
        kProgramTitle, tr("Aquilevel stopped because of an internal error:\n%1").arg(reason),
        Prompter::Icon::Critical);
    EndGame(m_session);
}

void TrialScreen::holdLost(const QString& message)
{
    if (m_over)
        return;
    m_cycle.halt();
    if (m_session.store().isBusy()) { // a lock's back-off lets queued calls through
        m_session.store().whenIdle(this, [this, message] { holdLost(message); });
        return;
    }
    m_session.prompter().inform(kProgramTitle, message, Prompter::Icon::Exclamation);
}

void TrialScreen::endedInStep()
{
    m_over = true;
    emit sessionOver();
}

// --- The order boxes and leaving ------------------------------------------------------

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

bool TrialScreen::entriesAreNumbers()
{
    // The boxes take only digits and points; a lone point or two points are no number.
    static const QRegularExpression number(QStringLiteral(R"(^(\d+\.?\d*|\.\d+)?$)"));
    for (QLineEdit* box : {m_inflow, m_outflow}) {
        QString problem;
        if (!number.match(orderText(box)).hasMatch()) {
            problem = box == m_inflow
                          ? tr("The inflow \"%1\" is not a number. Please type a number such as 2 or 2.5.")
                          : tr("The outflow \"%1\" is not a number. Please type a number such as 2 or 2.5.");
            problem = problem.arg(box->text());
        } else if (const double most = largestOrder(m_session.state.TopLabelValue);
                   orderText(box).toDouble() > most) {
            problem = box == m_inflow ? tr("The inflow \"%1\" is more than this task takes in one period. "
                                           "Please type a number from 0 to %2.")
                                      : tr("The outflow \"%1\" is more than this task takes in one period. "
                                           "Please type a number from 0 to %2.");
            problem = problem.arg(box->text(), config::shownDecimal(config::pointNumber(most)));
        }
        if (problem.isEmpty())
            continue;
        m_session.prompter().inform(kProgramTitle, problem, Prompter::Icon::Exclamation);
        box->setFocus();
        box->selectAll();
        return false;
    }
    return true;
}

void TrialScreen::exitKey()
{
    if (m_over || m_gateOpen)
        return;
    const bool no = !m_session.prompter().confirm(tr("Exit Application"),
                                                  tr("Are you sure you want to exit?"));
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
        m_cycle.halt();
        endedInStep();
        return;
    }
    m_gateOpen = false;
}

void TrialScreen::windowLost()
{
    if (m_over)
        return;
    if (m_session.store().isBusy()) {
        m_session.store().whenIdle(this, [this] { windowLost(); });
        return;
    }
    m_cycle.halt();
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

} // namespace aquilevel::task
