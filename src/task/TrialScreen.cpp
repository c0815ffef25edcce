#include "task/TrialScreen.h"

#include "config/NumberFormat.h"
#include "session/Clock.h"
#include "session/Session.h"
#include "task/EntryFilter.h"
#include "task/TankDrawing.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
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

} // namespace

TrialScreen::TrialScreen(Session& session, QWidget* parent)
    : QDialog(parent, Qt::Window), m_session(session), m_log(session),
      m_model(session.state, *this, m_log, session.clock())
{
    setObjectName(QStringLiteral("frmCistern"));
    setWindowTitle(QStringLiteral("Aquilevel"));
    buildControls();
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

QTimer* TrialScreen::addTimer(const char* name, void (TrialScreen::*tick)())
{
    auto* timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setSingleShot(true); // each handler disables its own timer: one start, one tick
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, tick] { guarded(tick); });
    return timer;
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
    QLabel* timePeriod = addLabel("lblTimePeriod", QStringLiteral("Time Period"));
    QLabel* current = addLabel("lblCurrTimePeriod");
    QLabel* of = addLabel("lblOf", QStringLiteral("of"));
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
        panel->addWidget(addLabel(caption, QString::fromLatin1(captionText)), row, column);
        QLabel* v = addLabel(value);
        v->setMinimumWidth(70);
        v->setProperty("aquilevelValue", true);
        setTextColor(v, color);
        panel->addWidget(v, row, column + 1);
    };
    pair(0, 0, "lblInFlowStatusEnv", "Env InFlow (Units/Sec):", "lblInFlowStatusEnvVal", kRed);
    pair(0, 2, "lblOutFlowStatusEnv", "Env OutFlow (Units/Sec):", "lblOutFlowStatusEnvVal", kGreen);
    pair(1, 0, "lblInFlowStatus", "UserInFlow (Units/Sec):", "lblInFlowStatusVal", kRed);
    pair(1, 2, "lblOutFlowStatus", "UserOutFlow (Units/Sec):", "lblOutFlowStatusVal", kGreen);
    pair(2, 0, "lblGoalStatus", "Goal (Gallons):", "lblGoalStatusVal", kRed);
    pair(2, 2, "lblAmountStatus", "Amount in Tank (Gallons):", "lblAmountStatusVal", kBlue);

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
    decisions->addWidget(addLabel("lblDecision0", QStringLiteral("Make Decision->")), 0, 0);
    decisions->addWidget(addLabel("lblInFlow1", QStringLiteral("Enter the number of Inflow (units/second):")), 0, 1);
    m_inflow = new QLineEdit(this);
    m_inflow->setObjectName(QStringLiteral("txtUsrInflowVal"));
    decisions->addWidget(m_inflow, 0, 2);
    decisions->addWidget(addLabel("lblDecision1", QStringLiteral("Make Decision->")), 1, 0);
    decisions->addWidget(addLabel("lblOutflow", QStringLiteral("Enter the number of Outflow (units/second):")), 1, 1);
    m_outflow = new QLineEdit(this);
    m_outflow->setObjectName(QStringLiteral("txtUsrOutflowVal"));
    decisions->addWidget(m_outflow, 1, 2);
    m_submit = new QPushButton(QStringLiteral("Submit"), this);
    m_submit->setObjectName(QStringLiteral("cmdNextTrial"));
    m_submit->setDefault(true);
    decisions->addWidget(m_submit, 1, 3);
    decisions->setColumnStretch(4, 1);
    connect(m_submit, &QPushButton::clicked, this, [this] { guarded(&TrialScreen::submitClicked); });

    // Money, and the pipeline totals at the right.
    auto* money = new QGridLayout;
    money->addWidget(addLabel("lblCurrBonus", QStringLiteral("Current bonus for the time period is:")), 0, 0);
    money->addWidget(addLabel("lblCurrBonusVal"), 0, 1);
    money->addWidget(addLabel("lblDollar0", QStringLiteral("$")), 0, 2);
    money->addWidget(addLabel("lblAccuBonus", QStringLiteral("Total money to be paid at the end:")), 1, 0);
    money->addWidget(addLabel("lblAccuBonusVal"), 1, 1);
    money->addWidget(addLabel("lblDollar1", QStringLiteral("$")), 1, 2);
    money->setColumnStretch(3, 1);
    money->addWidget(addLabel("lblBackOrder", QStringLiteral("Back Order (Gallons):")), 0, 4);
    QLabel* back = addLabel("lblBackOrderVal");
    setTextColor(back, kBlue);
    money->addWidget(back, 0, 5);
    money->addWidget(addLabel("lblForwardOrder", QStringLiteral("Dch Order (Gallons):")), 1, 4);
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

    m_timer1 = addTimer("Timer1", &TrialScreen::onTimer1);
    m_timer2 = addTimer("Timer2", &TrialScreen::onTimer2);
    m_envDelay = addTimer("tmrEnvDelay", &TrialScreen::onEnvDelay);
    m_envMv = addTimer("tmrEnvMv", &TrialScreen::onEnvMv);
    m_userDelay = addTimer("tmrUserDelay", &TrialScreen::onUserDelay);
    m_userMv = addTimer("tmrUserMv", &TrialScreen::onUserMv);

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
    SessionState& s = m_session.state;
    const config::ExperimentSetup& setup = s.setup;
    TankState& tank = s.tank;
    const auto label = [this](const char* name) {
        return findChild<QLabel*>(QString::fromLatin1(name));
    };

    s.InTask = true;
    m_timer1->setInterval(1);
    m_timer2->setInterval(int(config::roundHalfEven(setup.TimeBetweenEnvTries)));
    tank.PeriodStartTime = timeOfDay();
    if (s.Trial == 0) {
        label("lblCurrCostVal")->setText(QStringLiteral("0.00"));
        label("lblAccuCostVal")->setText(QStringLiteral("0.00"));
    } else {
        label("lblCurrCostVal")->setText(config::plainDecimal(tank.CurrentCost));
        label("lblAccuCostVal")->setText(config::plainDecimal(tank.TotCost));
    }
    label("lblCurrTimePeriod")->setText(QString::number(s.Trial));
    label("lblTotTimePeriod")->setText(QString::number(setup.MaxTrial));
    label("lblUnits")->setText(setup.YUnits);
    label("lblCurrBonusVal")->setText(config::format000(tank.CurrentBonus));
    label("lblAccuBonusVal")->setText(config::format000(tank.TotBonus));
    label("lblBackOrderVal")->setText(config::format000(tank.TotalBackOrder));
    label("lblForwardOrderVal")->setText(config::format000(tank.TotalForwardDischarge));
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
    setStatus(QStringLiteral("Try to meet the goal line on the tank by adjusting Inflow and Outflow"));

    const QString& u = setup.YUnits;
    label("lblInFlowStatusEnv")->setText(QStringLiteral("Env InFlow(") + u + QStringLiteral("/Time Period):"));
    label("lblOutFlowStatusEnv")->setText(QStringLiteral("Env OutFlow(") + u + QStringLiteral("/Time Period):"));
    label("lblInFlowStatus")->setText(QStringLiteral("UserInFlow(") + u + QStringLiteral("/Time Period):"));
    label("lblOutFlowStatus")->setText(QStringLiteral("UserOutFlow(") + u + QStringLiteral("/Time Period):"));
    label("lblGoalStatus")->setText(QStringLiteral("Goal(") + u + QStringLiteral("):"));
    label("lblAmountStatus")->setText(QStringLiteral("Amount in Tank(") + u + QStringLiteral("):"));
    label("lblInFlow1")->setText(QStringLiteral("Enter the Inflow(") + u + QStringLiteral("/Time Period):"));
    label("lblOutflow")->setText(QStringLiteral("Enter the Outflow(") + u + QStringLiteral("/Time Period):"));

    m_drawing->PlaceYMarks(setup.numMarks, s.MarkLabels);
    if (s.Trial != 0) {
        m_drawing->FillTank(kTankNumber, tank.AmountInTank);
        refreshEnvironmentValues();
    } else {
        m_drawing->FillTank(kTankNumber, s.setup.InitialAmountInTank);
        tank.AmountInTank = s.setup.InitialAmountInTank;
    }

    if (setup.graphicalMode) {
        m_drawing->ShowContinuousLayout();
        for (qint16 region = UserInflowRegion; region <= EnvOutflowRegion; ++region)
            m_drawing->PipeWater(region, false);
        m_drawing->PlaceGoalLine(tank.GoalAmount / m_drawing->UnitsPerMark());
        m_drawing->picture()->hide();
    } else {
        m_drawing->ShowDiscreteLayout();
        for (qint16 region = UserInflowRegion; region <= EnvOutflowRegion; ++region)
            m_drawing->PipeWater(region, false);
    }
    for (FlowTag tag : {FlowTag::UserInflow, FlowTag::EnvInflow, FlowTag::UserOutflow, FlowTag::EnvOutflow})
        flowTag(tag)->setVisible(setup.graphicalMode);

    refreshTankValues();
    if (setup.IsTimeDriven) {
        m_timer2->setInterval(int(config::roundHalfEven(setup.TimeBetweenEnvTries)));
        m_timer2->start();
    }
}

// --- What the model shows -------------------------------------------------------

QLabel* TrialScreen::cell(const char* pipe, qint16 index) const
{
    return m_drawing->label(QString::fromLatin1(pipe) + QString::number(index));
}

QLabel* TrialScreen::flowTag(FlowTag tag) const
{
    switch (tag) {
    case FlowTag::UserInflow:
        return m_drawing->label(QStringLiteral("lblUsrInCon"));
    case FlowTag::UserOutflow:
        return m_drawing->label(QStringLiteral("lblUsrOutCon"));
    case FlowTag::EnvInflow:
        return m_drawing->label(QStringLiteral("lblEnvInCon"));
    case FlowTag::EnvOutflow:
        break;
    }
    return m_drawing->label(QStringLiteral("lblEnvOutCon"));
}

void TrialScreen::PipeWater(qint16 region, bool visible)
{
    m_drawing->PipeWater(region, visible);
}

void TrialScreen::FillTank(qint16 num, double amount)
{
    m_drawing->FillTank(num, amount);
}

void TrialScreen::tagFlow(FlowTag tag, double quantity)
{
    QLabel* label = flowTag(tag);
    const bool inflow = tag == FlowTag::UserInflow || tag == FlowTag::EnvInflow;
    TankDrawing::setBackColor(label, inflow ? kRed : kGreen);
    label->setText(config::format000(quantity));
}

void TrialScreen::blankFlowTag(FlowTag tag)
{
    QLabel* label = flowTag(tag);
    TankDrawing::setBackColor(label, Qt::black);
    label->setText(QString());
}

void TrialScreen::SetUserInputCell(qint16 index, const QString& text)
{
    cell("lblUserInput", index)->setText(text);
}

void TrialScreen::SetEnvInputCell(qint16 index, const QString& text)
{
    cell("lblEnvInput", index)->setText(text);
}

void TrialScreen::SetUserOutputCell(qint16 index, const QString& text)
{
    cell("lblUserOutput", index)->setText(text);
}

void TrialScreen::SetEnvOutputCell(qint16 index, const QString& text)
{
    cell("lblEnvOutput", index)->setText(text);
}

void TrialScreen::BlankCell(qint16 pipe, qint16 index)
{
    static const char* const pipes[] = {"lblUserInput", "lblEnvInput", "lblUserOutput", "lblEnvOutput"};
    if (pipe >= 0 && pipe <= 3)
        TankDrawing::setBackColor(cell(pipes[pipe], index), Qt::black);
}

void TrialScreen::LightInflowCell(qint16 side, qint16 index)
{
    if (side == 0 || side == 1)
        TankDrawing::setBackColor(cell(side == 0 ? "lblUserInput" : "lblEnvInput", index), kRed);
}

void TrialScreen::LightOutflowCell(qint16 side, qint16 index)
{
    if (side == 0 || side == 1)
        TankDrawing::setBackColor(cell(side == 0 ? "lblUserOutput" : "lblEnvOutput", index), kGreen);
}

void TrialScreen::setStatus(const QString& text)
{
    findChild<QLabel*>(QStringLiteral("lblStatusValue"))->setText(text);
}

void TrialScreen::startStageTimer(StageTimer timer, qint32 intervalMs)
{
    QTimer* t = m_envDelay;
    switch (timer) {
    case StageTimer::EnvDelay:
        break;
    case StageTimer::EnvMv:
        t = m_envMv;
        break;
    case StageTimer::UserDelay:
        t = m_userDelay;
        break;
    case StageTimer::UserMv:
        t = m_userMv;
        break;
    }
    t->start(intervalMs);
}

void TrialScreen::setSubmitEnabled(bool enabled)
{
    m_submit->setEnabled(enabled);
}

void TrialScreen::showMoney(double currentBonus, double totBonus, double currentCost, double totCost)
{
    findChild<QLabel*>(QStringLiteral("lblCurrBonusVal"))->setText(config::format000(currentBonus));
    findChild<QLabel*>(QStringLiteral("lblAccuBonusVal"))->setText(config::format000(totBonus));
    findChild<QLabel*>(QStringLiteral("lblCurrCostVal"))->setText(config::format000(currentCost));
    findChild<QLabel*>(QStringLiteral("lblAccuCostVal"))->setText(config::format000(totCost));
}

} // namespace aquilevel::task
