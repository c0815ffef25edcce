#include "store/DataRows.h"

namespace aquilevel::store {

namespace {

// Yes/no as the program writes it: 1 or 0.
qint64 yes(bool value)
{
    return value ? 1 : 0;
}

QStringList names(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* name : list)
        result.append(QString::fromLatin1(name));
    return result;
}

} // namespace

const QStringList& SubjectRow::columns()
{
    static const QStringList list = names({"Subject", "Version", "Condition", "Major", "Gender", "Age", "Date", "Time"});
    return list;
}

QVariantList SubjectRow::values() const
{
    const auto given = [](const QString& text) { return text.isNull() ? QVariant() : QVariant(text); };
    return {Subject, Version, Condition, given(Major), given(Gender), Age ? QVariant(*Age) : QVariant(), Date, Time};
}

const QStringList& EventRow::columns()
{
    static const QStringList list = names(
        {"Subject", "Version", "eventType", "EventID", "Trial", "Date", "Time", "CurrentCost", "TotCost",
         "UserInFlow", "UserOutFlow", "EnvInFlow", "EnvOutFlow", "BackOrder", "ForwardDischarge", "TotalBackOrder",
         "TotalForwardDischarge", "AmountInTank", "GoalAmount", "SimulationTime", "BaseMoney", "UserInflowTP",
         "UserOutflowTP", "AfterEveryNTrials", "IsUserInFlow", "IsUserOutFlow", "IsEnvInFlow", "IsEnvOutFlow",
         "graphicalMode", "BonusAmount", "CurrentBonus", "TotBonus", "LowerBoundFromGoal", "UpperBoundFromGoal",
         "ExperimentTimeForInstructions", "MaxNumberOfAScenarioType", "IsTimeDriven", "IsBonusOnTimeGap",
         "TimeBetweenEnvTries", "deltaTmeBetweenEnvUsr"});
    return list;
}

QVariantList EventRow::values() const
{
    return {Subject, Version, eventType, EventID, Trial, Date, Time, CurrentCost, TotCost, UserInFlow,
            UserOutFlow, EnvInFlow, EnvOutFlow, BackOrder, ForwardDischarge, TotalBackOrder,
            TotalForwardDischarge, AmountInTank, GoalAmount, SimulationTime, BaseMoney, UserInflowTP,
            UserOutflowTP, AfterEveryNTrials, yes(IsUserInFlow), yes(IsUserOutFlow), yes(IsEnvInFlow),
            yes(IsEnvOutFlow), yes(graphicalMode), BonusAmount, CurrentBonus, TotBonus, LowerBoundFromGoal,
            UpperBoundFromGoal, ExperimentTimeForInstructions, MaxNumberOfAScenarioType, yes(IsTimeDriven),
            yes(IsBonusOnTimeGap), TimeBetweenEnvTries, deltaTmeBetweenEnvUsr};
}

const QStringList& PeriodOpened::columns()
{
    static const QStringList list = names(
        {"Subject", "Version", "Trial", "Date", "startTime", "endTime", "UserInFlow", "UserOutFlow", "EnvInFlow",
         "EnvOutFlow", "GoalAmount", "SimulationTime", "BaseMoney", "UserInflowTP", "UserOutflowTP", "IsUserInFlow",
         "IsUserOutFlow", "IsEnvInFlow", "IsEnvOutFlow", "graphicalMode", "TotBonus", "LowerBoundFromGoal",
         "UpperBoundFromGoal"});
    return list;
}

QVariantList PeriodOpened::values() const
{
    return {Subject, Version, Trial, Date, startTime, endTime, UserInFlow, UserOutFlow, EnvInFlow, EnvOutFlow,
            GoalAmount, SimulationTime, BaseMoney, UserInflowTP, UserOutflowTP, yes(IsUserInFlow),
            yes(IsUserOutFlow), yes(IsEnvInFlow), yes(IsEnvOutFlow), yes(graphicalMode), TotBonus,
            LowerBoundFromGoal, UpperBoundFromGoal};
}

const QStringList& SubmitTimeRow::columns()
{
    static const QStringList list = names({"Subject", "Version", "Trial", "Date", "SubmitClickTime"});
    return list;
}

QVariantList SubmitTimeRow::values() const
{
    return {Subject, Version, Trial, Date, SubmitClickTime};
}

const QStringList& AnswerRow::columns()
{
    static const QStringList list = names({"Subject", "Version", "QuestionNumber", "QuestionAnswer"});
    return list;
}

QVariantList AnswerRow::values() const
{
    return {Subject, Version, QuestionNumber, QuestionAnswer};
}

const QStringList& MarkRow::columns()
{
    static const QStringList list = names({"Subject", "Version", "Mark", "Reason"});
    return list;
}

QVariantList MarkRow::values() const
{
    return {Subject, Version, Mark, Reason};
}

} // namespace aquilevel::store
