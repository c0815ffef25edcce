#include "tools/ReplayWindow.h"

#include "config/Languages.h"
#include "config/NumberFormat.h"
#include "session/ScreenFit.h"
#include "store/Store.h"
#include "task/TankDrawing.h"
#include "task/TankModel.h"
#include "tools/Printable.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace aquilevel::tools {

using task::Stage;

namespace {

QString shown000(double value)
{
    return config::shownDecimal(config::format000(value));
}

// The panel's rows: object name and caption.
const std::pair<const char*, const char*> kValues[] = {
    {"lblPeriodVal", "Period"},
    {"lblEventVal", "Stage"},
    {"lblAmountVal", "Amount in tank"},
    {"lblGoalVal", "Goal"},
    {"lblEnvInVal", "Environment inflow"},
    {"lblEnvOutVal", "Environment outflow"},
    {"lblOrderInVal", "Inflow ordered"},
    {"lblOrderOutVal", "Outflow ordered"},
    {"lblDeliveredInVal", "Inflow delivered"},
    {"lblDeliveredOutVal", "Outflow delivered"},
    {"lblBackOrderVal", "Inflow on its way"},
    {"lblDischargeOrderVal", "Outflow on its way"},
    {"lblCostVal", "Cost of the period"},
    {"lblTotCostVal", "Cost so far"},
    {"lblBonusVal", "Bonus of the period"},
    {"lblMoneyVal", "Money so far"},
    {"lblStatusVal", "Status"},
};

} // namespace

ReplayWindow::ReplayWindow(store::Store& store, ReplaySession replay, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(store), m_replay(std::move(replay))
{
    setObjectName(QStringLiteral("frmReplay"));
    m_state = m_replay.start;
    build();
    fitSlider();
    showFrame(0);

    // Fits a 1024 x 768 screen; larger on a large one, as every window of the program.
    const QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize room = where ? where->availableGeometry().size() : QSize(1024, 768);
    resize(QSize(1000, 640).boundedTo(room));
    fitToScreen(this);
    resize(size().boundedTo(room));
}

ReplayWindow::~ReplayWindow() = default;

void ReplayWindow::build()
{
    const SessionState& s = m_replay.start;
    setWindowTitle(QStringLiteral("Replay: %1, version %2").arg(printable(s.Subject), printable(s.Version)));

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("pnlNumbers"));
    auto* form = new QFormLayout(panel);
    form->setContentsMargins(0, 0, 0, 0);
    // As wide as the longest stage's name, so that the drawing keeps its size from row to row.
    const int valueWidth = fontMetrics().horizontalAdvance(QStringLiteral("After Cost Calculation (10 of 10)"));
    for (const auto& [name, caption] : kValues) {
        auto* value = new QLabel(panel);
        value->setObjectName(QString::fromLatin1(name));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setMinimumWidth(valueWidth);
        form->addRow(QString::fromLatin1(caption) + QLatin1Char(':'), value);
        m_values.insert(QString::fromLatin1(name), value);
    }
    m_values.value(QStringLiteral("lblStatusVal"))->setWordWrap(true);
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    m_middle = new QHBoxLayout;
    m_middle->addWidget(panel, 0, Qt::AlignTop);
    newDrawing();

    auto* controls = new QHBoxLayout;
    auto* previous = new QPushButton(QStringLiteral("< Stage"), this);
    previous->setObjectName(QStringLiteral("cmdPrevStage"));
    previous->setToolTip(QStringLiteral("The stage before (Left)"));
    m_play = new QPushButton(QStringLiteral("Play"), this);
    m_play->setObjectName(QStringLiteral("cmdPlay"));
    m_play->setToolTip(QStringLiteral("Play or pause (Space)"));
    auto* next = new QPushButton(QStringLiteral("Stage >"), this);
    next->setObjectName(QStringLiteral("cmdNextStage"));
    next->setToolTip(QStringLiteral("The next stage (Right)"));
    m_speed = new QComboBox(this);
    m_speed->setObjectName(QStringLiteral("cboSpeed"));
    for (int factor : {1, 4, 16})
        m_speed->addItem(QStringLiteral("%1\u00d7").arg(factor), factor);
    m_speed->setToolTip(QStringLiteral("1\u00d7 is the version's own pace (S)"));
    m_period = new QSlider(Qt::Horizontal, this);
    m_period->setObjectName(QStringLiteral("sldPeriod"));
    m_period->setToolTip(QStringLiteral("The period (Up, Down)"));
    m_periodText = new QLabel(this);
    m_periodText->setObjectName(QStringLiteral("lblSliderPeriod"));
    auto* reload = new QPushButton(QStringLiteral("Reload"), this);
    reload->setObjectName(QStringLiteral("cmdReload"));
    reload->setToolTip(QStringLiteral("Reads the rows again: a session still running has more (F5)"));
    for (QWidget* w : {static_cast<QWidget*>(previous), static_cast<QWidget*>(m_play), static_cast<QWidget*>(next),
                       static_cast<QWidget*>(m_speed)})
        controls->addWidget(w);
    // The keys are the window's (below): no control takes Space or an arrow for itself.
    for (QWidget* w : {static_cast<QWidget*>(previous), static_cast<QWidget*>(m_play), static_cast<QWidget*>(next),
                       static_cast<QWidget*>(m_speed), static_cast<QWidget*>(m_period), static_cast<QWidget*>(reload)})
        w->setFocusPolicy(Qt::NoFocus);
    controls->addWidget(new QLabel(QStringLiteral("Period:"), this));
    controls->addWidget(m_period, 1);
    controls->addWidget(m_periodText);
    controls->addWidget(reload);

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("lblNote"));
    m_note->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_middle, 1);
    layout->addLayout(controls);
    layout->addWidget(m_note);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_shown + 1 >= frames().size()) {
            setPlaying(false);
            return;
        }
        showFrame(m_shown + 1);
        m_timer->start(frameMs(m_shown));
    });
    connect(previous, &QPushButton::clicked, this, [this] { step(-1); });
    connect(next, &QPushButton::clicked, this, [this] { step(1); });
    connect(m_play, &QPushButton::clicked, this, [this] { setPlaying(!isPlaying()); });
    connect(reload, &QPushButton::clicked, this, &ReplayWindow::reload);
    connect(m_period, &QSlider::valueChanged, this, &ReplayWindow::toPeriod);
    connect(m_speed, &QComboBox::currentIndexChanged, this, [this] {
        if (isPlaying())
            m_timer->start(frameMs(m_shown));
    });
    // Window-wide keys, whichever control has the focus.
    const auto key = [this](QKeySequence sequence, std::function<void()> act) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setAutoRepeat(true);
        connect(shortcut, &QShortcut::activated, this, std::move(act));
    };
    key(Qt::Key_Space, [this] { setPlaying(!isPlaying()); });
    key(Qt::Key_Left, [this] { step(-1); });
    key(Qt::Key_Right, [this] { step(1); });
    key(Qt::Key_Up, [this] { stepPeriod(1); });
    key(Qt::Key_Down, [this] { stepPeriod(-1); });
    key(Qt::Key_Home, [this] { showFrame(0); });
    key(Qt::Key_End, [this] { showFrame(int(frames().size()) - 1); });
    key(QKeySequence::Refresh, [this] { ReplayWindow::reload(); });
    key(Qt::Key_S, [this] { m_speed->setCurrentIndex((m_speed->currentIndex() + 1) % m_speed->count()); });
}

void ReplayWindow::newDrawing()
{
    // A fresh drawing is laid out exactly as the trial screen's was when it opened.
    m_state.tank = m_replay.start.tank;
    m_state.Trial = 0;
    auto* drawing = new task::TankDrawing(m_state, this);
    drawing->setObjectName(QStringLiteral("tankDrawing"));
    if (m_drawing) {
        delete m_middle->replaceWidget(m_drawing, drawing);
        delete m_drawing;
        // At its place and size now, not at the layout's next turn.
        if (isVisible())
            drawing->show();
        layout()->activate();
    } else {
        m_middle->insertWidget(0, drawing, 1);
    }
    m_drawing = drawing;
    task::PeriodPicture opening;
    opening.status = task::TankModel::kStartStatus;
    m_drawing->layOut(opening);
}

void ReplayWindow::apply(const ReplayFrame& frame)
{
    m_state.tank = frame.tank;
    m_state.Trial = frame.period;
    m_drawing->showStage(frame.stage, frame.picture);
}

void ReplayWindow::showFrame(int index)
{
    if (frames().isEmpty())
        return;
    index = std::clamp(index, 0, int(frames().size()) - 1);
    // Forward by one from a row that ended its step, the drawing goes on as the screen
    // did; otherwise it starts afresh and takes every step before the row.
    if (!(m_shown >= 0 && index == m_shown + 1 && frames().at(m_shown).endsStep)) {
        newDrawing();
        for (int i = 0; i < index; ++i)
            if (frames().at(i).endsStep)
                apply(frames().at(i));
    }
    apply(frames().at(index));
    m_shown = index;
    showNumbers(frames().at(index));
    const QSignalBlocker quiet(m_period);
    m_period->setValue(frames().at(index).period);
    m_periodText->setText(QString::number(frames().at(index).period));
}

QString ReplayWindow::money(double value) const
{
    const config::ExperimentSetup& setup = m_replay.start.setup;
    return setup.CurrencySymbol + config::shownDecimal(config::formatPadded(value, setup.CurrencyDecimals + 1));
}

void ReplayWindow::showNumbers(const ReplayFrame& frame)
{
    const config::ExperimentSetup& setup = m_replay.start.setup;
    const TankState& tank = frame.tank;
    const double scale = tank.UnitScale;
    const QString units = QLatin1Char(' ') + setup.YUnits;
    int stage = 0;
    int stages = 0;
    for (int i = 0; i < frames().size(); ++i) {
        if (frames().at(i).period != frame.period)
            continue;
        ++stages;
        if (i <= m_shown)
            stage = stages;
    }
    const auto set = [this](const char* name, const QString& text) { m_values.value(QLatin1String(name))->setText(text); };
    set("lblPeriodVal", QStringLiteral("%1 of %2").arg(frame.period).arg(setup.MaxTrial));
    set("lblEventVal", QStringLiteral("%1 (%2 of %3)").arg(frame.eventType).arg(stage).arg(stages));
    set("lblAmountVal", shown000(tank.AmountInTank / scale) + units);
    set("lblGoalVal", shown000(tank.GoalAmount / scale) + units);
    set("lblEnvInVal", shown000(frame.envInFlow));
    set("lblEnvOutVal", shown000(frame.envOutFlow));
    set("lblOrderInVal", shown000(frame.userInFlow));
    set("lblOrderOutVal", shown000(frame.userOutFlow));
    set("lblDeliveredInVal", shown000(frame.deliveredIn));
    set("lblDeliveredOutVal", shown000(frame.deliveredOut));
    set("lblBackOrderVal", shown000(tank.TotalBackOrder));
    set("lblDischargeOrderVal", shown000(tank.TotalForwardDischarge));
    set("lblCostVal", shown000(tank.CurrentCost));
    set("lblTotCostVal", shown000(tank.TotCost));
    set("lblBonusVal", money(tank.CurrentBonus));
    set("lblMoneyVal", money(tank.TotBonus));
    set("lblStatusVal", frame.picture.status);
}

void ReplayWindow::step(int by)
{
    setPlaying(false);
    showFrame(m_shown + by);
}

void ReplayWindow::stepPeriod(int by)
{
    setPlaying(false);
    toPeriod(frames().at(m_shown).period + by);
}

void ReplayWindow::toPeriod(int period)
{
    // The period's first row; a period without rows goes on to the next one that has some.
    for (int i = 0; i < frames().size(); ++i) {
        if (frames().at(i).period >= period) {
            if (m_shown < 0 || frames().at(i).period != frames().at(m_shown).period)
                showFrame(i);
            return;
        }
    }
}

int ReplayWindow::frameMs(int index) const
{
    const config::ExperimentSetup& setup = m_replay.start.setup;
    int ms = 1000; // the participant's own time: at Submit, after the cost
    switch (frames().value(index).stage) {
    case Stage::EnvironmentActs:
        ms = setup.envDelay + setup.EnvMv;
        break;
    case Stage::OrdersDue:
        ms = setup.userDelay;
        break;
    case Stage::OrdersDelivered:
        ms = setup.UsrMv;
        break;
    default:
        break;
    }
    const int factor = std::max(1, m_speed->currentData().toInt());
    return std::max(200, ms) / factor;
}

void ReplayWindow::setPlaying(bool playing)
{
    if (playing && m_shown + 1 >= frames().size())
        showFrame(0); // from the start again
    m_play->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    if (playing)
        m_timer->start(frameMs(m_shown));
    else
        m_timer->stop();
}

bool ReplayWindow::isPlaying() const
{
    return m_timer->isActive();
}

void ReplayWindow::fitSlider()
{
    const QSignalBlocker quiet(m_period);
    m_period->setRange(frames().first().period, frames().last().period);
    m_period->setPageStep(std::max(1, int(frames().last().period - frames().first().period) / 10));
}

void ReplayWindow::reload()
{
    const SessionState& s = m_replay.start;
    const qint32 shown = m_shown >= 0 ? frames().at(m_shown).eventId : 0;
    if (m_store.isBusy()) { // another reading waits on a lock: never one inside it
        m_note->setText(QStringLiteral("The database is busy; press Reload again in a moment."));
        return;
    }
    try {
        m_replay = loadReplay(m_store, s.Version, s.Subject);
    } catch (const std::exception& error) {
        m_note->setText(QStringLiteral("Not read again: %1").arg(QString::fromUtf8(error.what())));
        return;
    }
    m_state = m_replay.start;
    fitSlider();
    int at = 0;
    while (at + 1 < frames().size() && frames().at(at + 1).eventId <= shown)
        ++at;
    m_shown = -1;
    showFrame(at);
    m_note->setText(QStringLiteral("Read %1 rows.").arg(frames().size()));
}

} // namespace aquilevel::tools
