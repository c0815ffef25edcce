#include "config/DesignCheck.h"

#include "config/ExperimentSetup.h"
#include "config/InstructionText.h"
#include "config/NumberFormat.h"
#include "store/Row.h"

#include <QSet>

#include <cmath>

namespace aquilevel::config {

namespace {

// Above this a money sum, an amount or a rate is taken for a typing error (a BaseMoney
// of 1e308 overflows the earnings to infinity); no lab's tank or payment comes near it.
constexpr double kLargest = 1e9;

QString tooLarge(const QString& what, double value)
{
    return std::isfinite(value)
               ? QStringLiteral("%1 of %2 is implausibly large (more than %3)").arg(what, generalNumber(value), generalNumber(kLargest))
               : QStringLiteral("%1 is not a finite number").arg(what);
}

} // namespace

ConfigProblems checkDesign(store::Store& store, const QString& version)
{
    return checkDesign(readVersionConfig(store, version, true));
}

ConfigProblems checkDesign(const VersionConfig& config)
{
    ConfigProblems problems;
    const QString& version = config.version;
    const auto add = [&](const char* table, const char* field, const QString& message, int row = -1) {
        problems.append({QString::fromLatin1(table), version, QString::fromLatin1(field), message, false, row});
    };
    ExperimentSetup s;
    {
        if (!config.setup)
            return problems;
        ConfigProblems unread;
        s = readSetupRow(*config.setup, version, unread);
        if (!unread.isEmpty())
            return problems;
    }

    // Money, the band and the amounts a session starts with are never negative; the
    // login's rules let a negative one through, and the session then pays or draws it.
    QSet<QString> flagged;
    const auto plausible = [&](const char* field, double value, bool mayBeNegative) {
        const QString what = QString::fromLatin1(field);
        if (!std::isfinite(value) || std::fabs(value) > kLargest)
            add("tblSetup", field, tooLarge(what, value));
        else if (value < 0 && !mayBeNegative)
            add("tblSetup", field, QStringLiteral("%1 of %2 is negative; it must be 0 or more").arg(what, generalNumber(value)));
        else
            return;
        flagged.insert(what);
    };
    plausible("BaseMoney", s.BaseMoney, false);
    plausible("BonusAmount", s.BonusAmount, false);
    plausible("CostUnderFlowPerAmount", s.CostUnderFlowPerAmount, false);
    plausible("CostOverFlowPerAmount", s.CostOverFlowPerAmount, false);
    plausible("LowerBoundFromGoal", s.LowerBoundFromGoal, false);
    plausible("UpperBoundFromGoal", s.UpperBoundFromGoal, false);
    plausible("InitialAmountInTank", s.InitialAmountInTank, false);
    plausible("InitialBackOrder", s.InitialBackOrder, false);
    plausible("InitialForwardDischarge", s.InitialForwardDischarge, false);
    plausible("GoalLinePoisition", s.GoalLinePoisition, true);

    // The scale: the leading numbers of the labels, bottom to top; the tank's top is
    // the last one.
    QList<double> marks;
    for (int index = 0; index < config.labels.size(); ++index) {
        const QString caption = config.labels.at(index).toString();
        if (!beginsWithNumber(caption)) {
            add("tblLabels", "LabelName",
                QStringLiteral("the label \"%1\" is no number; the scale reads its labels as amounts").arg(caption),
                index);
            continue;
        }
        const double value = leadingNumber(caption);
        if (!marks.isEmpty() && !(value > marks.last()))
            add("tblLabels", "LabelName",
                QStringLiteral("the label \"%1\" is not above the one below it (%2); the labels must increase")
                    .arg(caption, generalNumber(marks.last())),
                index);
        marks.append(value);
    }
    if (!marks.isEmpty()) {
        const double top = marks.last();
        const auto onScale = [&](const char* field, double amount, const QString& what) {
            if (flagged.contains(QString::fromLatin1(field)))
                return;
            if (amount < 0 || amount > top)
                add("tblSetup", field,
                    QStringLiteral("%1 of %2 lies outside the tank's scale, 0 to %3")
                        .arg(what, generalNumber(amount), generalNumber(top)));
        };
        onScale("GoalLinePoisition", s.GoalLinePoisition, QStringLiteral("the goal"));
        onScale("InitialAmountInTank", s.InitialAmountInTank, QStringLiteral("the starting amount"));
        onScale("LowerBoundFromGoal", s.GoalLinePoisition - s.LowerBoundFromGoal,
                QStringLiteral("the band's lower edge (goal minus LowerBoundFromGoal)"));
        onScale("UpperBoundFromGoal", s.GoalLinePoisition + s.UpperBoundFromGoal,
                QStringLiteral("the band's upper edge (goal plus UpperBoundFromGoal)"));
    }

    // Every period of the session needs its scenario row, and the environment's rates
    // are flows into and out of the tank: neither is negative.
    QSet<qint64> periods;
    int oddRates = 0;
    for (int index = 0; index < config.scenario.size(); ++index) {
        const store::Row& row = config.scenario.at(index);
        const qint64 period = row.value("Trial").toLongLong();
        periods.insert(period);
        for (const char* rate : {"inFlowRateEnviron", "outFlowRateEnviron"}) {
            const double value = row.value(rate).toDouble();
            const QString what = QStringLiteral("scenario %1, period %2: the rate").arg(s.ScenarioUsed).arg(period);
            const bool odd = !std::isfinite(value) || std::fabs(value) > kLargest || value < 0;
            // A scenario typed with the wrong sign throughout is named a few times, not once a period.
            if (odd && ++oddRates <= 3)
                add("tblScenarios", rate,
                    value < 0 && std::isfinite(value)
                        ? QStringLiteral("%1 of %2 is negative; a flow is 0 or more").arg(what, generalNumber(value))
                        : tooLarge(what, value),
                    index);
        }
    }
    if (oddRates > 3)
        add("tblScenarios", "Trial",
            QStringLiteral("scenario %1: %2 more rates are negative or too large").arg(s.ScenarioUsed).arg(oddRates - 3));
    QStringList missing;
    for (qint64 t = 1; t <= s.MaxTrial; ++t)
        if (!periods.contains(t))
            missing.append(QString::number(t));
    if (!missing.isEmpty())
        add("tblScenarios", "Trial",
            QStringLiteral("scenario %1 has no row for period%2 %3 of the %4; the environment's flows there act as 0")
                .arg(s.ScenarioUsed)
                .arg(missing.size() == 1 ? QString() : QStringLiteral("s"))
                .arg(missing.size() > 8 ? missing.mid(0, 8).join(QStringLiteral(", ")) + QStringLiteral(", ...")
                                        : missing.join(QStringLiteral(", ")))
                .arg(s.MaxTrial));

    // A placeholder typed wrong reaches the participant as typed.
    const QVariantList& pages = config.pages;
    for (int i = 0; i < pages.size(); ++i)
        for (const QString& name : unknownPlaceholders(pages.at(i).toString()))
            add("tblInstructions", "PageText",
                QStringLiteral("page %1 of %2: {%3} is no placeholder the program knows; it is shown as typed (known: %4)")
                    .arg(i + 1)
                    .arg(pages.size())
                    .arg(name, instructionPlaceholders().join(QStringLiteral(", "))));
    return problems;
}

} // namespace aquilevel::config
