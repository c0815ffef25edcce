#include "tools/AnalyzeCommand.h"

#include "tools/AnalysisCsv.h"
#include "tools/AnalysisData.h"
#include "tools/CommandArguments.h"
#include "tools/Progress.h"

#include <QCommandLineParser>
#include <QTextStream>

#include <cmath>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] analyze [--version V] [--subject S] [--theta T]\n"
        "                                      [--include-pilots] [--include-excluded]\n\n"
        "Fits each participant's orders to the anchoring-and-adjustment rule by least squares:\n"
        "  net order = weight x expected outflow + alpha x (goal - amount)\n"
        "              - beta x orders on their way,\n"
        "where the net order is the inflow typed less the outflow typed, the amount and the\n"
        "orders on their way are what the screen showed at the decision, and the expected\n"
        "outflow is an adaptive expectation of the environment's net outflow,\n"
        "  expected(t) = theta x outflow(t - 1) + (1 - theta) x expected(t - 1).\n"
        "Prints the weight, alpha and beta with their standard errors, theta, R squared and\n"
        "the periods used, and names the participants whose rule explains little (R squared\n"
        "below 0.5). Periods without a Submit and the first period are left out. A beta near\n"
        "0 means the orders on their way were neglected. `export --analysis` writes the same\n"
        "figures into participants.csv. The method is described in docs/analysis.md.\n\n"
        "Options:\n"
        "  --version V         only participants of version V\n"
        "  --subject S         only participant S\n"
        "  --theta T           fix the expectation's smoothing weight (0 to 1) instead of\n"
        "                      fitting it\n"
        "  --include-pilots    take in participants marked as pilots (left out by default)\n"
        "  --include-excluded  take in participants marked as excluded (left out by default)\n"
        "  --help              show this text\n");
}

// Three decimals are what a table to read needs; the files keep every digit.
QString shown(double value)
{
    return decimal(std::round(value * 1000) / 1000);
}

QString withSe(double value, double se)
{
    return QStringLiteral("%1 (%2)").arg(shown(value), shown(se));
}

} // namespace

int runAnalyze(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("analyze"), usage(), context);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    const QCommandLineOption subject(QStringLiteral("subject"), QString(), QStringLiteral("S"));
    const QCommandLineOption theta(QStringLiteral("theta"), QString(), QStringLiteral("T"));
    const QCommandLineOption includePilots(QStringLiteral("include-pilots"));
    const QCommandLineOption includeExcluded(QStringLiteral("include-excluded"));
    parser.addOptions({version, subject, theta, includePilots, includeExcluded});
    if (const auto status = args.parse(arguments))
        return *status;
    AnalysisOptions options;
    options.version = parser.value(version).trimmed();
    options.subject = parser.value(subject).trimmed();
    options.includePilots = parser.isSet(includePilots);
    options.includeExcluded = parser.isSet(includeExcluded);
    if (parser.isSet(version) && options.version.isEmpty())
        return args.usageError(QStringLiteral("--version needs a version name"));
    if (parser.isSet(subject) && options.subject.isEmpty())
        return args.usageError(QStringLiteral("--subject needs a participant's name"));
    if (parser.isSet(theta)) {
        bool ok = false;
        const double t = parser.value(theta).trimmed().toDouble(&ok);
        if (!ok || !(t >= 0 && t <= 1))
            return args.usageError(QStringLiteral("--theta takes a number from 0 to 1, not \"%1\"").arg(parser.value(theta)));
        options.theta = t;
    }
    try {
        ToolStore tool(context.dataFolder);
        LeftOut leftOut;
        const QList<ParticipantAnalysis> analysed = loadAnalysis(tool.store(), options, &leftOut);
        QList<QStringList> rows;
        QStringList little, unfitted;
        for (const ParticipantAnalysis& a : analysed) {
            const RuleFit& r = a.rule;
            const QString name = QStringLiteral("%1 (%2)").arg(a.subject, a.version);
            if (!r.valid)
                unfitted.append(name);
            else if (r.rSquared < kLowRSquared)
                little.append(name);
            rows.append({a.version, a.subject, QString::number(a.periods.size()), QString::number(a.periodsInBand()),
                         shown(a.meanDistance()), QString::number(r.periods),
                         r.valid ? withSe(r.weight, r.weightSe) : QStringLiteral("-"),
                         r.valid ? withSe(r.alpha, r.alphaSe) : QStringLiteral("-"),
                         r.valid ? withSe(r.beta, r.betaSe) : QStringLiteral("-"),
                         r.valid ? decimal(r.theta) : QStringLiteral("-"),
                         r.valid ? shown(r.rSquared) : QStringLiteral("-")});
        }
        context.out << alignedTable({QStringLiteral("Version"), QStringLiteral("Participant"), QStringLiteral("Periods"),
                                     QStringLiteral("In band"), QStringLiteral("Mean distance"),
                                     QStringLiteral("Used"), QStringLiteral("Weight (SE)"),
                                     QStringLiteral("Alpha (SE)"), QStringLiteral("Beta (SE)"),
                                     QStringLiteral("Theta"), QStringLiteral("R squared")},
                                    rows, {false, false, true, true, true, true, true, true, true, true, true});
        context.out << "\n" << analysed.size() << (analysed.size() == 1 ? " participant." : " participants.");
        if (options.theta)
            context.out << " Theta fixed at " << decimal(*options.theta) << ".";
        context.out << "\n";
        if (!little.isEmpty())
            context.out << "The rule explains little (R squared below " << decimal(kLowRSquared)
                        << ") for: " << little.join(QStringLiteral(", ")) << "\n";
        if (!unfitted.isEmpty())
            context.out << "Not fitted (fewer than 4 periods to fit, or orders that cannot tell the terms "
                           "apart): "
                        << unfitted.join(QStringLiteral(", ")) << "\n";
        if (leftOut.total() > 0)
            context.out << leftOut.note() << "\n";
        context.out.flush();
        return 0;
    } catch (const ToolError& e) {
        context.out.flush();
        context.err << "aquilevel analyze: " << e.message() << "\n";
        context.err.flush();
        return 1;
    }
}

} // namespace aquilevel::tools
