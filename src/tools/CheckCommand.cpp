#include "tools/CheckCommand.h"

#include "tools/Printable.h"

#include "config/ConfigCheck.h"
#include "config/DemoConfig.h"
#include "config/DesignCheck.h"
#include "session/ExperimenterAccounts.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace aquilevel::tools {

namespace {

const QString kStatus = QStringLiteral("Checking the configuration");

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] check [--version V]\n\n"
        "Checks every version in tblSetup (or only V) with the rules the login applies before\n"
        "a session, and for design errors a session would play through (a goal, starting\n"
        "amount or band edge outside the labelled scale, labels that do not increase, periods\n"
        "without a scenario row), and lists every problem found, one a line: table, version,\n"
        "field, what is wrong. Exits 0 when every version checked is sound, else 1. The demo\n"
        "experimenter account still in place is a warning that does not fail the check.\n\n"
        "Options:\n"
        "  --version V   check only version V\n"
        "  --help        show this text\n");
}

QStringList allVersions(store::Store& store)
{
    QStringList versions;
    auto rs = store.OpenTable(store::Query(QStringLiteral("select Version from tblSetup order by Version")),
                              true, kStatus);
    for (; !rs->isEOF(); rs->moveNext())
        versions.append(rs->field(QStringLiteral("Version")).toString());
    rs->close();
    return versions;
}

QString problemLine(const config::ConfigProblem& problem)
{
    return QStringLiteral("%1, version \"%2\", field %3: %4")
        .arg(problem.table, printable(problem.version),
             problem.field.isEmpty() ? QStringLiteral("(none)") : problem.field, problem.message);
}

} // namespace

int runCheck(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("check"), usage(), context);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    parser.addOption(version);
    if (const auto status = args.parse(arguments))
        return *status;

    ToolStore tool(context.dataFolder);
    store::Store& store = tool.store();
    const QStringList versions =
        parser.isSet(version) ? QStringList{parser.value(version)} : allVersions(store);

    int unsound = 0;
    int problemCount = 0;
    for (const QString& v : versions) {
        config::ConfigProblems problems = config::checkVersion(store, v);
        if (problems.isEmpty())
            problems = config::checkDesign(store, v);
        if (!problems.isEmpty())
            ++unsound;
        problemCount += problems.size();
        for (const config::ConfigProblem& problem : problems)
            context.out << problemLine(problem) << "\n";
    }

    const QString checked = versions.size() == 1 ? QStringLiteral("1 version checked")
                                                 : QStringLiteral("%1 versions checked").arg(versions.size());
    if (versions.isEmpty())
        context.out << "No versions in tblSetup: nothing to check.\n";
    else if (unsound == 0)
        context.out << checked << ", all sound.\n";
    else
        context.out << checked << ": " << problemCount << (problemCount == 1 ? " problem" : " problems")
                    << " in " << unsound << (unsound == 1 ? " version.\n" : " versions.\n");
    if (AccountPassword(store, config::kDemoUser) == config::kDemoPassword)
        context.out << "Warning: the demo experimenter account (" << config::kDemoUser
                    << ") still has its published password; replace it before running participants: "
                       "aquilevel passwd "
                    << config::kDemoUser << "\n";
    context.out.flush();
    return unsound == 0 && !versions.isEmpty() ? 0 : 1;
}

} // namespace aquilevel::tools
