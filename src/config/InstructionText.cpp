#include "config/InstructionText.h"

#include "config/ExperimentSetup.h"
#include "config/NumberFormat.h"

#include <QRegularExpression>

#include <functional>
#include <utility>

namespace aquilevel::config {

namespace {

using Value = std::function<QString(const ExperimentSetup&)>;

const QList<std::pair<QString, Value>>& placeholders()
{
    // Whole-number settings in plain decimal, every other number in the general form, as
    // in the program's own pages.
    static const QList<std::pair<QString, Value>> list = {
        {QStringLiteral("Version"), [](const ExperimentSetup& s) { return s.Version; }},
        {QStringLiteral("MaxTrial"), [](const ExperimentSetup& s) { return QString::number(s.MaxTrial); }},
        {QStringLiteral("GoalLinePoisition"), [](const ExperimentSetup& s) { return generalNumber(s.GoalLinePoisition); }},
        {QStringLiteral("LowerBound"),
         [](const ExperimentSetup& s) { return generalNumber(s.GoalLinePoisition - s.LowerBoundFromGoal); }},
        {QStringLiteral("UpperBound"),
         [](const ExperimentSetup& s) { return generalNumber(s.UpperBoundFromGoal + s.GoalLinePoisition); }},
        {QStringLiteral("InitialAmountInTank"), [](const ExperimentSetup& s) { return generalNumber(s.InitialAmountInTank); }},
        {QStringLiteral("YUnits"), [](const ExperimentSetup& s) { return s.YUnits; }},
        {QStringLiteral("inFlowTPAfter"), [](const ExperimentSetup& s) { return QString::number(s.inFlowTPAfter); }},
        {QStringLiteral("outFlowTPAfter"), [](const ExperimentSetup& s) { return QString::number(s.outFlowTPAfter); }},
        // The periods an order spends on its way: one typed in period t arrives in
        // period t + inFlowTPAfter - 1.
        {QStringLiteral("InflowArrivesAfter"), [](const ExperimentSetup& s) { return QString::number(s.inFlowTPAfter - 1); }},
        {QStringLiteral("OutflowArrivesAfter"), [](const ExperimentSetup& s) { return QString::number(s.outFlowTPAfter - 1); }},
        {QStringLiteral("BaseMoney"), [](const ExperimentSetup& s) { return generalNumber(s.BaseMoney); }},
        {QStringLiteral("BonusAmount"), [](const ExperimentSetup& s) { return generalNumber(s.BonusAmount); }},
        {QStringLiteral("BonusCents"), [](const ExperimentSetup& s) { return generalNumber(s.BonusAmount * 100); }},
        {QStringLiteral("MaxBonus"), [](const ExperimentSetup& s) { return generalNumber(s.MaxTrial * s.BonusAmount); }},
        {QStringLiteral("MaxEarnings"),
         [](const ExperimentSetup& s) { return generalNumber(s.MaxTrial * s.BonusAmount + s.BaseMoney); }},
        {QStringLiteral("ExperimentTimeForInstructions"),
         [](const ExperimentSetup& s) { return QString::number(s.ExperimentTimeForInstructions); }},
        // The two times of the settings in milliseconds, as a participant reads them.
        {QStringLiteral("SecondsBetweenEnvTries"),
         [](const ExperimentSetup& s) { return generalNumber(s.TimeBetweenEnvTries / 1000); }},
        {QStringLiteral("SecondsBetweenEnvUsr"),
         [](const ExperimentSetup& s) { return generalNumber(s.deltaTmeBetweenEnvUsr / 1000); }},
        {QStringLiteral("CurrencySymbol"), [](const ExperimentSetup& s) { return s.CurrencySymbol; }},
        {QStringLiteral("CurrencyWord"), [](const ExperimentSetup& s) { return s.CurrencyWord; }},
        {QStringLiteral("CurrencyCents"), [](const ExperimentSetup& s) { return s.CurrencyCents; }},
    };
    return list;
}

const Value* valueOf(const QString& name)
{
    for (const auto& [known, value] : placeholders())
        if (known == name)
            return &value;
    return nullptr;
}

const QRegularExpression& placeholderPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\{([A-Za-z][A-Za-z0-9]*)\\}"));
    return pattern;
}

} // namespace

QStringList instructionPlaceholders()
{
    QStringList names;
    for (const auto& entry : placeholders())
        names.append(entry.first);
    return names;
}

QString fillInstructionText(const QString& text, const ExperimentSetup& setup)
{
    // One pass over the lab's text: a value that itself looks like a placeholder (a
    // version named "{MaxTrial}") is not replaced again.
    QString filled;
    qsizetype from = 0;
    for (const QRegularExpressionMatch& m : placeholderPattern().globalMatch(text)) {
        filled += QStringView(text).mid(from, m.capturedStart() - from);
        const Value* value = valueOf(m.captured(1));
        filled += value ? (*value)(setup) : m.captured(0);
        from = m.capturedEnd();
    }
    filled += QStringView(text).mid(from);
    return filled;
}

QStringList unknownPlaceholders(const QString& text)
{
    QStringList unknown;
    for (const QRegularExpressionMatch& m : placeholderPattern().globalMatch(text))
        if (!valueOf(m.captured(1)) && !unknown.contains(m.captured(1)))
            unknown.append(m.captured(1));
    return unknown;
}

} // namespace aquilevel::config
