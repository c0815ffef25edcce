#include "tools/CheckCommand.h"

#include "tools/Printable.h"

#include "config/ConfigCheck.h"
#include "config/DemoConfig.h"
#include "config/DesignCheck.h"
#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/PasswordHash.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"
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
        "without a scenario row, an instruction page with an unknown {placeholder}), and lists every problem found, one a line: table, version,\n"
        "field, what is wrong. Exits 0 when every version checked is sound, else 1. The demo\n"
        "experimenter account still in place, and an account whose password an older program\n"
        "stored in plain text, are warnings that do not fail the check.\n"
        "It also refuses implausible numbers (negative money, band, starting amounts or\n"
        "environment rates; magnitudes above 1e9), a missing or empty experimenter password,\n"
        "a missing data table, a damaged file (SQLite's quick_check), and a participant's row\n"
        "stored more than once (listed; nothing is changed).\n\n"
        "Options:\n"
        "  --version V   check only version V\n"
        "  --help        show this text\n");
}

} // namespace

QStringList configuredVersions(store::Store& store)
{
    QStringList versions;
    store.read([&](store::Connection& c) { versions = store::SetupTable::versions(c); }, QStringLiteral("tblSetup"),
               kStatus);
    return versions;
}

namespace {

QString problemLine(const config::ConfigProblem& problem)
{
    return QStringLiteral("%1, version \"%2\", field %3: %4")
        .arg(problem.table, printable(problem.version),
             problem.field.isEmpty() ? QStringLiteral("(none)") : problem.field, problem.message);
}

// The accounts that open a running session's exit: without one nobody can let a
// participant leave early, and an empty password opens it for anyone.
QStringList accountProblems(store::Store& store)
{
    QList<store::PasswordTable::Account> accounts;
    store.read([&](store::Connection& c) { accounts = store::PasswordTable::accounts(c); },
               QStringLiteral("tblPasswords"), kStatus);
    QStringList problems;
    for (const store::PasswordTable::Account& account : std::as_const(accounts))
        if (account.password.toString().trimmed().isEmpty())
            problems.append(QStringLiteral("tblPasswords, user \"%1\", field password: the password is empty; "
                                           "set one with: aquilevel passwd %1")
                                .arg(printable(account.username)));
    if (accounts.isEmpty())
        problems.append(QStringLiteral("tblPasswords: there is no experimenter account, so nobody can let a "
                                       "participant leave early; add one with: aquilevel passwd USER"));
    return problems;
}

} // namespace

// Warnings that do not fail the check: a password still in plain text (it opens the gate
// as before, but anyone who copies the file can read it), and the demo account with the
// password the README publishes. The administrator may read the table, on the server too.
QStringList accountWarnings(store::Store& store)
{
    QList<store::PasswordTable::Account> accounts;
    std::optional<QVariant> demo;
    store.read(
        [&](store::Connection& c) {
            accounts = store::PasswordTable::accounts(c);
            demo = store::PasswordTable::password(c, config::kDemoUser);
        },
        QStringLiteral("tblPasswords"), kStatus);
    QStringList warnings;
    for (const store::PasswordTable::Account& account : std::as_const(accounts))
        if (!account.password.toString().trimmed().isEmpty() && !store::isPasswordHash(account.password))
            warnings.append(QStringLiteral("Warning: the password of the experimenter account \"%1\" is stored in "
                                           "plain text; set it again with: aquilevel passwd %1 (which stores it hashed)")
                                .arg(printable(account.username)));
    if (demo && store::passwordMatches(*demo, config::kDemoPassword))
        warnings.append(QStringLiteral("Warning: the demo experimenter account (%1) still has its published password; "
                                       "replace it before running participants: aquilevel passwd %1")
                            .arg(config::kDemoUser));
    return warnings;
}

namespace {

// The database itself: every data table in place, and for the file its pages sound
// (a damaged index reads fine until a query walks it, in the middle of a session).
QStringList databaseProblems(store::Store& store)
{
    QStringList problems;
    for (const QString& table : store::tableNames(store::TableKind::Data) + store::tableNames(store::TableKind::Internal)) {
        try {
            store.read([&](store::Connection& c) { store::probeTable(c, *store::findTable(table)); }, table, kStatus);
        } catch (const ToolError& error) {
            problems.append(QStringLiteral("%1: the data table cannot be read (%2)").arg(table, error.message()));
        }
    }
    const qsizetype before = problems.size();
    try {
        QStringList damage;
        store.read([&](store::Connection& c) { damage = store.engine().damage(c); }, QStringLiteral("(the file)"),
                   kStatus);
        for (const QString& line : std::as_const(damage))
            problems.append(QStringLiteral("The file is damaged: %1").arg(printable(line.trimmed())));
    } catch (const ToolError& error) {
        problems.append(QStringLiteral("The file is damaged: %1").arg(error.message()));
    }
    if (problems.size() > before)
        problems.append(QStringLiteral("Restore the file from a backup: sessions and the other commands refuse a "
                                       "damaged file."));
    return problems;
}

// A participant's row stored more than once: an analysis would count it twice. Only
// reported; which copy to keep is for the experimenter to decide.
// Registrations whose names differ in letter case only: the program finds them as one
// participant (an older version of the program compared only ASCII letters so).
QStringList sharedNameProblems(store::Store& store)
{
    QStringList problems;
    QList<store::SubjectTable::SharedKey> shared;
    try {
        store.read([&](store::Connection& c) { shared = store::SubjectTable::namesSharingAKey(c); },
                   QStringLiteral("datSubject"), kStatus);
    } catch (const ToolError&) {
        return {}; // a table that cannot be read is reported above
    }
    for (const store::SubjectTable::SharedKey& s : std::as_const(shared)) {
        QStringList quoted;
        for (const QString& name : s.spellings)
            quoted.append(QStringLiteral("\"%1\"").arg(printable(name)));
        problems.append(QStringLiteral("datSubject, version \"%1\": %2 differ in letter case only and are found as one "
                                       "participant")
                            .arg(printable(s.version), quoted.join(QStringLiteral(" and "))));
    }
    return problems;
}

QStringList doubledRowProblems(store::Store& store)
{
    constexpr int kShown = 20;
    QList<store::DoubledRows> doubles;
    // A few hundred participants a read, so that the stations' writes are never held up
    // for long by a lab's whole history.
    for (const QString& table : store::tableNames(store::TableKind::Data)) {
        try {
            QString after;
            do {
                store.read(
                    [&](store::Connection& c) {
                        QList<store::DoubledRows> found;
                        after = store::doubledRowsOf(c, *store::findTable(table), after, 200, found);
                        doubles += found;
                    },
                    table, kStatus);
            } while (!after.isEmpty() && doubles.size() < kShown);
        } catch (const ToolError&) {
            continue; // a table that cannot be read is reported above
        }
        if (doubles.size() >= kShown)
            break;
    }
    QStringList problems;
    for (const store::DoubledRows& d : std::as_const(doubles))
        problems.append(QStringLiteral("%1, participant \"%2\" of version \"%3\": %4 stored %5 times")
                            .arg(d.table, printable(d.subject), printable(d.version), d.what)
                            .arg(d.copies));
    if (doubles.size() >= kShown)
        problems.append(QStringLiteral("(only the first %1 doubled rows are listed)").arg(kShown));
    return problems;
}

} // namespace

QStringList versionProblems(store::Store& store, const QString& version)
{
    config::ConfigProblems problems = config::checkVersion(store, version);
    if (problems.isEmpty())
        problems = config::checkDesign(store, version);
    QStringList lines;
    for (const config::ConfigProblem& problem : problems)
        lines.append(problemLine(problem));
    return lines;
}

int runCheck(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("check"), usage(), context);
    QCommandLineParser& parser = args.parser;
    const QCommandLineOption version(QStringLiteral("version"), QString(), QStringLiteral("V"));
    parser.addOption(version);
    if (const auto status = args.parse(arguments))
        return *status;

    ToolStore tool(context.dataFolder, false);
    store::Store& store = tool.store();
    const QStringList versions =
        parser.isSet(version) ? QStringList{parser.value(version)} : configuredVersions(store);

    int unsound = 0;
    int problemCount = 0;
    for (const QString& v : versions) {
        const QStringList problems = versionProblems(store, v);
        if (!problems.isEmpty())
            ++unsound;
        problemCount += int(problems.size());
        for (const QString& problem : problems)
            context.out << problem << "\n";
    }

    const QStringList others = accountProblems(store) + databaseProblems(store) + doubledRowProblems(store) +
                               sharedNameProblems(store);
    for (const QString& problem : others)
        context.out << problem << "\n";

    const QString checked = versions.size() == 1 ? QStringLiteral("1 version checked")
                                                 : QStringLiteral("%1 versions checked").arg(versions.size());
    if (versions.isEmpty())
        context.out << "No versions in tblSetup: nothing to check.\n";
    else if (unsound == 0 && others.isEmpty())
        context.out << checked << ", all sound.\n";
    else if (unsound == 0)
        context.out << checked << ", all sound; the database is not: see above.\n";
    else
        context.out << checked << ": " << problemCount << (problemCount == 1 ? " problem" : " problems")
                    << " in " << unsound << (unsound == 1 ? " version.\n" : " versions.\n");
    for (const QString& warning : accountWarnings(store))
        context.out << warning << "\n";
    context.out.flush();
    return unsound == 0 && others.isEmpty() && !versions.isEmpty() ? 0 : 1;
}

} // namespace aquilevel::tools
