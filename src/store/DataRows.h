#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariantList>

#include <optional>

namespace aquilevel::store {

// The rows the sessions append, with the columns the analyses know. Each knows its
// columns in the order of its values; the keys, EventTimeUtc and Station are added by
// the table's home.

// datSubject: a participant's registration.
struct SubjectRow {
    QString Subject;
    QString Version;
    QString Condition;
    // What the participant said about themselves; null (stored as NULL) when nobody was
    // asked: a scripted participant, or one whose registration row was lost.
    QString Major;
    QString Gender;
    std::optional<double> Age;
    QDate Date;
    QString Time; // HH:MM:SS

    static const QStringList& columns();
    QVariantList values() const;
};

// datExperimentTrials: one event of a session, with the state it left.
struct EventRow {
    QString Subject;
    QString Version;
    QString eventType;
    qint32 EventID = 0;
    qint32 Trial = 0;
    QDate Date;
    QString Time; // HH:MM:SS
    double CurrentCost = 0;
    double TotCost = 0;
    double UserInFlow = 0;
    double UserOutFlow = 0;
    double EnvInFlow = 0;
    double EnvOutFlow = 0;
    double BackOrder = 0;
    double ForwardDischarge = 0;
    double TotalBackOrder = 0;
    double TotalForwardDischarge = 0;
    double AmountInTank = 0;
    double GoalAmount = 0;
    double SimulationTime = 0;
    double BaseMoney = 0;
    qint32 UserInflowTP = 0;
    qint32 UserOutflowTP = 0;
    qint32 AfterEveryNTrials = 0;
    bool IsUserInFlow = false;
    bool IsUserOutFlow = false;
    bool IsEnvInFlow = false;
    bool IsEnvOutFlow = false;
    bool graphicalMode = false;
    double BonusAmount = 0;
    double CurrentBonus = 0;
    double TotBonus = 0;
    double LowerBoundFromGoal = 0;
    double UpperBoundFromGoal = 0;
    qint32 ExperimentTimeForInstructions = 0;
    qint32 MaxNumberOfAScenarioType = 0;
    bool IsTimeDriven = false;
    bool IsBonusOnTimeGap = false;
    double TimeBetweenEnvTries = 0;
    double deltaTmeBetweenEnvUsr = 0;

    static const QStringList& columns();
    QVariantList values() const;
};

// datTrialSummary as a period is opened: its times, flows and a copy of the setup.
struct PeriodOpened {
    QString Subject;
    QString Version;
    qint32 Trial = 0;
    QDate Date;
    QTime startTime;
    QTime endTime;
    double UserInFlow = 0;
    double UserOutFlow = 0;
    double EnvInFlow = 0;
    double EnvOutFlow = 0;
    double GoalAmount = 0;
    double SimulationTime = 0;
    double BaseMoney = 0;
    qint32 UserInflowTP = 0;
    qint32 UserOutflowTP = 0;
    bool IsUserInFlow = false;
    bool IsUserOutFlow = false;
    bool IsEnvInFlow = false;
    bool IsEnvOutFlow = false;
    bool graphicalMode = false;
    double TotBonus = 0;
    double LowerBoundFromGoal = 0;
    double UpperBoundFromGoal = 0;

    static const QStringList& columns();
    QVariantList values() const;
};

// What completes a period's summary row once its steps are done.
struct PeriodCompleted {
    double AmountInTank = 0;
    double CurrentBonus = 0;
    double TotBonus = 0;
    double CurrentCost = 0;
    double TotCost = 0;
    bool withUserFlows = false; // time-driven play: the orders are known only now
    double UserInFlow = 0;
    double UserOutFlow = 0;
    double BackOrder = 0;
    double ForwardDischarge = 0;
    double TotalBackOrder = 0;
    double TotalForwardDischarge = 0;
};

// datUserTimesSummary: one press of Submit.
struct SubmitTimeRow {
    QString Subject;
    QString Version;
    qint32 Trial = 0;
    QDate Date;
    QTime SubmitClickTime;

    static const QStringList& columns();
    QVariantList values() const;
};

// datQuestionnaire: one answer.
struct AnswerRow {
    QString Subject;
    QString Version;
    qint32 QuestionNumber = 0;
    QString QuestionAnswer;

    static const QStringList& columns();
    QVariantList values() const;
};

// datSubjectMark: a participant marked, or a mark taken back.
struct MarkRow {
    QString Subject;
    QString Version;
    QString Mark; // kPilot, kExcluded, or empty for none
    QString Reason;

    static constexpr auto kPilot = "pilot";
    static constexpr auto kExcluded = "excluded";

    static const QStringList& columns();
    QVariantList values() const;
};

} // namespace aquilevel::store
