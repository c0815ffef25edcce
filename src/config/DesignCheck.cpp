#include "config/DesignCheck.h"

#include "config/ConfigLoader.h"
#include "config/ExperimentSetup.h"
#include "config/NumberFormat.h"
#include "store/Store.h"

#include <QSet>

namespace aquilevel::config {

namespace {

const QString kStatus = QStringLiteral("Loading configuration setup");

} // namespace

ConfigProblems checkDesign(store::Store& store, const QString& version)
{
    ConfigProblems problems;
    const auto add = [&](const char* table, const char* field, const QString& message) {
        problems.append({QString::fromLatin1(table), version, QString::fromLatin1(field), message});
    };
    ExperimentSetup s;
    {
        auto rs = store.OpenTable(store::Query(kSetupQuery, {version}), true, kStatus);
        if (rs->isEOF())
            return problems;
        ConfigProblems unread;
        s = readSetupRow(*rs, version, unread);
        rs->close();
        if (!unread.isEmpty())
            return problems;
    }

    // The scale: the leading numbers of the labels, bottom to top; the tank's top is
    // the last one.
    QList<double> marks;
    {
        auto rs = store.OpenTable(store::Query(kLabelsAscendingQuery, {version}), true, kStatus);
        for (; !rs->isEOF(); rs->moveNext()) {
            const QString caption = rs->field(QStringLiteral("LabelName")).toString();
            if (!beginsWithNumber(caption)) {
                add("tblLabels", "LabelName",
                    QStringLiteral("the label \"%1\" is no number; the scale reads its labels as amounts").arg(caption));
                continue;
            }
            const double value = leadingNumber(caption);
            if (!marks.isEmpty() && !(value > marks.last()))
                add("tblLabels", "LabelName",
                    QStringLiteral("the label \"%1\" is not above the one below it (%2); the labels must increase")
                        .arg(caption, generalNumber(marks.last())));
            marks.append(value);
        }
    }
    if (!marks.isEmpty()) {
        const double top = marks.last();
        const auto onScale = [&](const char* field, double amount, const QString& what) {
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

    // Every period of the session needs its scenario row.
    QSet<qint64> periods;
    {
        auto rs = store.OpenTable(store::Query(kScenarioQuery, {int(s.ScenarioUsed)}), true, kStatus);
        for (; !rs->isEOF(); rs->moveNext())
            periods.insert(rs->field(QStringLiteral("Trial")).toLongLong());
    }
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
    return problems;
}

} // namespace aquilevel::config
