#include "materials/InstructionScreen.h"

#include "config/ConfigLoader.h"
#include "config/ExperimentSetup.h"
#include "config/NumberFormat.h"
#include "recording/EventTypes.h"
#include "recording/Recorder.h"
#include "session/Clock.h"
#include "session/EndGame.h"
#include "session/Headless.h"
#include "session/ProcessEnd.h"
#include "session/Prompter.h"
#include "session/Session.h"
#include "task/EntryFilter.h"
#include "task/TrialScreen.h"

#include <algorithm>

#include <QScopedValueRollback>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>
#include <stdexcept>

namespace aquilevel {

namespace {

using config::generalNumber;

const QString kTitle = QStringLiteral("Aquilevel");

// The screen's fixed texts, translated when the screen is built (not at start-up, before
// the language is chosen).
QString howAPeriodUnfolds()
{
    return InstructionScreen::tr(
        "As soon as you enter the number of units in the decision boxes at the bottom of the "
        "screen and hit \"Submit\", the Environment Inflow and Outflow will take place. These "
        "Environment Inflows and Outflows are not within your control but you can observe their "
        "nature from the information display marked as \"Env Inflow(Gallons/Time Period)\" and "
        "\"Env Outflow(Gallons/Time Period)\" for the last time period. You will receive feedback "
        "about the number of units of Environment Inflow and Outflow with a number that pops up in "
        "the black boxes during each time period as well. Next, the Inflow and Outflow quantities "
        "you entered will be reflected at the top of the page in \"UserInFlow\" and \"UserOutFlow\" "
        "and will change the system.  At the end of each time period, you will be able to visually "
        "see the water level in the tank and numerically see the same, by looking at \"Amount in "
        "Tank\". You can then begin the next time period, by submitting new Inflow and Outflow "
        "values.  Do your best to control the water level, given the variable nature of the "
        "environment inflows and outflows.");
}

QString pageHint()
{
    return InstructionScreen::tr(
        "Click the \">\" button to move forward to getting familiar with this experiment's user "
        "controls and screen displays. You can always come back to this screen by clicking the "
        "\"<\" button.");
}

// The trial screen is drawn at its own default size and shown scaled into a frame of
// about two thirds of the instructions' width.
const QSize kTrialScreenSize(1100, 760);
const QSize kWindowSize(960, 780);
constexpr int kPictureWidth = 640;
// What page 1 needs besides its picture: the title, texts A, B and C and the button row.
constexpr int kPageTextHeight = 380;

} // namespace

QString instructionsOverviewText(const config::ExperimentSetup& setup)
{
    return InstructionScreen::tr("This experiment explores decision making in a dynamic environment.  "
                                 "It examines learning in terms of your performance over %1 time periods.")
        .arg(setup.MaxTrial);
}

QString instructionsGoalText(const config::ExperimentSetup& setup)
{
    //: %1 periods, %2 the goal line's amount, %3 its unit (such as Gallons).
    return InstructionScreen::tr("During the experiment, you will face a screen like the one depicted "
                                 "below. The tank will have an initial amount of water. Your goal "
                                 "during each of the %1 time periods is to keep the water level at or "
                                 "as close as possible to the red goal line (which would remain fixed "
                                 "at %2 %3), by choosing between different units to submit for User "
                                 "Inflow and Outflow.")
        .arg(QString::number(setup.MaxTrial), generalNumber(setup.GoalLinePoisition), setup.YUnits);
}

QString instructionsCompensationText(const config::ExperimentSetup& s)
{
    // The default words are the program's own and translated; a lab's own are its own.
    const QString cents =
        s.CurrencyCents == QLatin1String("cents") ? InstructionScreen::tr("cents") : s.CurrencyCents;
    //: %1 minutes; %2 the standard amount; %3 the goal line's amount and %4 its unit; %5
    //: and %6 the band around the goal; %7 cents a period; %8 the most bonus; %9 the most
    //: earnings in all; %10 the currency's symbol; %11 the word for its hundredth.
    return InstructionScreen::tr(
               "The experiment will last at most %1 minutes and for this you will be compensated a "
               "standard amount of %2%10. In addition to the %2%10, there is an additional performance "
               "incentive in this experiment. Each time you make the water level meet the goal line "
               "at %3 %4 or make the water level come between %5 %4 and %6 %4, you will be paid %7 "
               "%11 for your effort. At the rate of %7 %11 for accomplishing the above mentioned "
               "in each trial, you potentially can earn an additional %8%10 making your total earnings "
               "to be as high as %9%10!")
        .arg(QString::number(s.ExperimentTimeForInstructions), generalNumber(s.BaseMoney),
             generalNumber(s.GoalLinePoisition), s.YUnits, generalNumber(s.GoalLinePoisition - s.LowerBoundFromGoal),
             generalNumber(s.UpperBoundFromGoal + s.GoalLinePoisition), generalNumber(s.BonusAmount * 100),
             generalNumber(s.MaxTrial * s.BonusAmount), generalNumber(s.MaxTrial * s.BonusAmount + s.BaseMoney),
             s.CurrencySymbol, cents);
}

QPixmap trialScreenPicture(Session& session)
{
    // The trial screen works on a session state of its own: its load converts the
    // amounts to the held form and marks the task as begun, which must not happen to the
    // real session before the participant has read the instructions.
    IdlePacer pacer;
    Session copy({session.prompter(), session.clock(), session.processEnd(), pacer},
                 std::make_unique<NoDatabase>());
    copy.state = session.state;
    try {
        task::TrialScreen screen(copy);
        screen.setAttribute(Qt::WA_DontShowOnScreen);
        screen.load();
        screen.resize(kTrialScreenSize);
        screen.show();
        // The texts were sized to the window: lay out with them before the picture.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QPixmap picture = screen.grab();
        screen.hide();
        return picture;
    } catch (const SessionOver&) {
        throw;
    } catch (const std::exception&) {
        // Only an illustration: the instructions are still complete without it.
        return QPixmap();
    }
}

InstructionScreen::InstructionScreen(Session& session, QWidget* parent)
    : SessionDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("frmInstructions"));
    setWindowTitle(tr("Instructions"));
    setModal(true);
    buildControls();
    load();
}

QLabel* InstructionScreen::addLabel(const char* name, const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

void InstructionScreen::buildControls()
{
    m_lblScr11 = addLabel("lblScr11", kTitle);
    m_lblScr11->setAlignment(Qt::AlignCenter);
    QFont titleFont = m_lblScr11->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 2);
    m_lblScr11->setFont(titleFont);

    m_lblVersion = addLabel("lblVersion", tr("Version:"));
    m_lblVersion->setWordWrap(false);
    m_lblVersionNumber = addLabel("lblVersionNumber");
    m_lblVersionNumber->setWordWrap(false);

    m_lblScr10 = addLabel("lblScr10");
    m_lblScr13 = addLabel("lblScr13");
    m_image11 = new QLabel(this);
    m_image11->setObjectName(QStringLiteral("Image11"));
    m_image11->setScaledContents(true);
    m_image11->setFrameShape(QFrame::Box);
    m_lblScr15 = addLabel("lblScr15", howAPeriodUnfolds());

    m_lblScr47 = addLabel("lblScr47", tr("Compensation"));
    QFont headingFont = m_lblScr47->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.4);
    m_lblScr47->setFont(headingFont);
    m_lblScr46 = addLabel("lblScr46");
    m_lblScr48 = addLabel("lblScr48", tr("If you are ready then click \"Continue\" button to start the Experiment..."));

    m_lblScr16 = addLabel("lblScr16", pageHint());
    // A version's own pages, as the lab wrote them.
    m_lblPageText = addLabel("lblPageText");
    m_lblPageText->setTextFormat(Qt::PlainText);
    m_lblPage = addLabel("lblPage");
    m_lblPage->setWordWrap(false);
    m_lblPage->setAlignment(Qt::AlignCenter);
    m_lblPage->setMinimumWidth(60);

    m_cmdLeft = new QPushButton(QStringLiteral("<"), this);
    m_cmdLeft->setObjectName(QStringLiteral("cmdLeft"));
    m_cmdRight = new QPushButton(QStringLiteral(">"), this);
    m_cmdRight->setObjectName(QStringLiteral("cmdRight"));
    m_cmdContinue = new QPushButton(tr("Continue"), this);
    m_cmdContinue->setObjectName(QStringLiteral("cmdContinue"));
    // The indicator stays in its place while one of the arrows is hidden.
    for (QPushButton* arrow : {m_cmdLeft, m_cmdRight}) {
        QSizePolicy policy = arrow->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        arrow->setSizePolicy(policy);
    }

    // Title in the middle, the version at the right.
    auto* versionBox = new QHBoxLayout;
    versionBox->addWidget(m_lblVersion);
    versionBox->addWidget(m_lblVersionNumber);
    auto* top = new QGridLayout;
    top->addWidget(m_lblScr11, 0, 0, 1, 3);
    top->addLayout(versionBox, 0, 2, Qt::AlignRight | Qt::AlignTop);
    top->setColumnStretch(0, 1);
    top->setColumnStretch(1, 2);
    top->setColumnStretch(2, 1);

    // The "<", indicator, ">" row with Continue beneath it, as wide as the row.
    auto* pager = new QGridLayout;
    pager->addWidget(m_cmdLeft, 0, 0);
    pager->addWidget(m_lblPage, 0, 1);
    pager->addWidget(m_cmdRight, 0, 2);
    pager->addWidget(m_cmdContinue, 1, 0, 1, 3);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_lblScr16, 1);
    bottom->addSpacing(20);
    bottom->addLayout(pager);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_lblScr10);
    layout->addWidget(m_lblScr13);
    layout->addWidget(m_image11, 0, Qt::AlignHCenter);
    layout->addWidget(m_lblScr15);
    layout->addWidget(m_lblScr47);
    layout->addWidget(m_lblScr46);
    layout->addWidget(m_lblScr48);
    layout->addWidget(m_lblPageText);
    layout->addStretch(1);
    layout->addLayout(bottom);

    setTabOrder(m_cmdLeft, m_cmdRight);
    setTabOrder(m_cmdRight, m_cmdContinue);

    auto* exitFilter = new task::EntryFilter([this] { guarded([this] { exitKey(); }); }, this);
    for (QPushButton* button : {m_cmdLeft, m_cmdRight, m_cmdContinue})
        exitFilter->watchExitKeyOnly(button);

    connect(m_cmdLeft, &QPushButton::clicked, this, &InstructionScreen::cmdLeft_Click);
    connect(m_cmdRight, &QPushButton::clicked, this, &InstructionScreen::cmdRight_Click);
    connect(m_cmdContinue, &QPushButton::clicked, this, &InstructionScreen::cmdContinue_Click);

    resize(kWindowSize);
}

void InstructionScreen::load()
{
    const SessionState& s = m_session.state;

    m_lblVersion->show();
    m_lblVersionNumber->show();
    m_lblVersionNumber->setText(s.Version);

    m_lblScr13->setText(instructionsGoalText(s.setup));
    m_lblScr10->setText(instructionsOverviewText(s.setup));
    m_lblScr46->setText(instructionsCompensationText(s.setup));
    m_ownPages = config::LoadInstructionPages(m_session.store(), s.setup, s.Version);

    // The picture takes what the screen's height leaves to it beside the texts of page 1,
    // so that the page and its buttons fit a 1024 x 768 monitor, or 1920 x 1080 at 150 %.
    // A version's own pages have no place for it.
    const QPixmap picture = m_ownPages.isEmpty() ? trialScreenPicture(m_session) : QPixmap();
    const QSize shape = picture.isNull() ? kTrialScreenSize : picture.size();
    int pictureWidth = kPictureWidth;
    if (const QRect room = roomOnScreen(); room.isValid())
        pictureWidth = std::clamp((room.height() - kPageTextHeight) * shape.width() / shape.height(), 240, kPictureWidth);
    if (!picture.isNull())
        m_image11->setPixmap(picture);
    m_image11->setFixedSize(pictureWidth, pictureWidth * shape.height() / shape.width());

    for (QWidget* w : {static_cast<QWidget*>(m_lblScr10), static_cast<QWidget*>(m_lblScr11),
                       static_cast<QWidget*>(m_lblScr13), static_cast<QWidget*>(m_image11),
                       static_cast<QWidget*>(m_lblScr15), static_cast<QWidget*>(m_lblScr16),
                       static_cast<QWidget*>(m_lblScr46), static_cast<QWidget*>(m_lblScr47),
                       static_cast<QWidget*>(m_lblScr48), static_cast<QWidget*>(m_lblPageText)})
        w->hide();
    m_cmdLeft->hide();
    m_cmdContinue->hide();
    m_cmdRight->show();

    cmdRight_Click();
}

int InstructionScreen::pageCount() const
{
    return m_ownPages.isEmpty() ? 2 : int(m_ownPages.size());
}

void InstructionScreen::ShowPage()
{
    const bool first = m_currentPage == 1;
    const bool own = !m_ownPages.isEmpty();
    for (QLabel* label : {m_lblScr10, m_lblScr13, m_image11, m_lblScr15})
        label->setVisible(first && !own);
    m_lblScr11->setVisible(first || own);
    // The hint speaks of the program's own first page.
    m_lblScr16->setVisible(!own);
    for (QLabel* label : {m_lblScr46, m_lblScr47, m_lblScr48})
        label->setVisible(!first && !own);
    m_lblPageText->setVisible(own);
    if (own)
        m_lblPageText->setText(m_ownPages.at(m_currentPage - 1));

    m_lblPage->setText(tr("%1 of %2").arg(m_currentPage).arg(pageCount()));
    m_cmdLeft->show();
    m_cmdRight->show();
    // Continue keeps its visibility: once the last page was shown it stays.
    if (m_currentPage == pageCount()) {
        m_cmdRight->hide();
        m_cmdContinue->show();
        m_cmdContinue->setFocus();
    }
    if (first)
        m_cmdLeft->hide();
}

void InstructionScreen::cmdRight_Click()
{
    if (m_currentPage >= pageCount())
        return;
    ++m_currentPage;
    ShowPage();
}

void InstructionScreen::cmdLeft_Click()
{
    if (m_currentPage <= 1)
        return;
    --m_currentPage;
    ShowPage();
}

void InstructionScreen::cmdContinue_Click()
{
    guarded([this] {
        // The store may let window events through while it waits for a lock; a second
        // Continue then must not write a second row.
        if (m_busy || m_continued)
            return;
        const QScopedValueRollback busy(m_busy, true);

        m_session.state.InTask = false;
        // The event counter is not advanced: the row carries its current value.
        recording::StoreRecorder(m_session.store(), m_session.clock(), m_session.state)
            .RecordEvent(events::kContinueClicked);
        m_continued = true;
        accept();
    });
}

void InstructionScreen::exitKey()
{
    if (m_busy || m_continued)
        return;
    const Prompter::Answer answer =
        m_session.prompter().ask({tr("Exit Application"), tr("Are you sure you want to exit?"), Prompter::Icon::None,
                                  Prompter::Buttons::YesNo});
    if (answer == Prompter::Answer::No)
        return;
    m_session.state.AbortSession = true;
    EndGame(m_session);
}


void InstructionScreen::run(Session& session, QWidget* parent)
{
    InstructionScreen screen(session, parent);
    screen.execModal();
}

void InstructionScreen::reject()
{
    // Escape does not leave the instructions: only Continue does.
}

void InstructionScreen::closeEvent(QCloseEvent* event)
{
    if (m_continued || sessionIsOver()) {
        event->accept();
        return;
    }
    event->ignore();
}

} // namespace aquilevel
