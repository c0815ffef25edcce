#include "tools/CopyCommand.h"

#include "store/DataLocation.h"
#include "store/PostgresEngine.h"
#include "store/Schema.h"
#include "store/ServerSettings.h"
#include "store/SqlCipherEngine.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"

#include <QFileInfo>
#include <QTextStream>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel copy --from SOURCE --to TARGET\n\n"
        "Copies a whole experiment (every version's configuration, the experimenter accounts\n"
        "and every participant's rows, as they stood when the copy began) from one database\n"
        "to another: an encrypted file (a path such as data/Cistern.mdb) or a server\n"
        "(postgresql://USER@HOST:PORT/DATABASE). The target is created in one transaction: it\n"
        "holds all of it or nothing. A target file must not exist; a target server database\n"
        "must not hold the experiment's tables yet. Seed a lab server from a configured\n"
        "file, or archive a server's data into a file at the end of a study.\n\n"
        "Options:\n"
        "  --from SOURCE  the database to read\n"
        "  --to TARGET    the database to create\n"
        "  --help         show this text\n");
}

bool isServer(const QString& place)
{
    return place.startsWith(QLatin1String("postgresql:")) || place.startsWith(QLatin1String("postgres:"));
}

// The tables copied, configuration first; a station's hold belongs to a running
// session and is not copied.
const QStringList& copiedTables()
{
    static const QStringList tables = {QStringLiteral("tblSetup"), QStringLiteral("tblScenarios"),
                                       QStringLiteral("tblLabels"), QStringLiteral("tblPasswords"),
                                       QStringLiteral("datSubject"), QStringLiteral("datExperimentTrials"),
                                       QStringLiteral("datTrialSummary"), QStringLiteral("datUserTimesSummary"),
                                       QStringLiteral("datQuestionnaire")};
    return tables;
}

using Table = QPair<QString, store::Rows>;

} // namespace

int runCopy(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("copy"), usage(), context);
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("SOURCE"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("TARGET"));
    args.parser.addOptions({from, to});
    if (const auto status = args.parse(arguments))
        return *status;
    const QString source = args.parser.value(from);
    const QString target = args.parser.value(to);
    if (source.isEmpty() || target.isEmpty())
        return args.usageError(QStringLiteral("--from and --to are both required"));

    // The source, read in one read-only transaction: one moment of the experiment.
    QList<Table> tables;
    try {
        std::unique_ptr<store::Engine> engine;
        if (isServer(source)) {
            engine = std::make_unique<store::PostgresEngine>(store::serverSettingsFromUrl(source));
        } else {
            if (!QFileInfo(source).isFile())
                throw ToolError(QStringLiteral("There is no database file at %1.").arg(source));
            engine = std::make_unique<store::SqlCipherEngine>(source, store::databasePassword());
        }
        ToolStore reader(std::move(engine));
        reader.store().transaction(
            [&](store::Connection& c) {
                tables.clear();
                for (const QString& table : copiedTables())
                    tables.append({table, c.select(store::Query(QStringLiteral("select * from \"%1\" order by rowid")
                                                                      .arg(table)),
                                                   false)});
            },
            true, QStringLiteral("Copying an experiment"));
    } catch (const store::ServerSettingsError& error) {
        throw ToolError(error.message());
    }

    const auto fill = [&](store::Connection& c) {
        for (const auto& [table, rows] : std::as_const(tables))
            for (const QVariantList& row : rows.values) {
                store::FieldValues values;
                for (qsizetype i = 0; i < rows.columns.size(); ++i)
                    values.append({rows.columns.at(i), row.value(i)});
                c.insert(table, values);
            }
    };
    try {
        if (isServer(target)) {
            store::PostgresEngine::create(store::serverSettingsFromUrl(target), fill);
        } else {
            if (QFileInfo::exists(target))
                throw ToolError(QStringLiteral("%1 already exists; nothing was changed.").arg(target));
            store::SqlCipherEngine::create(target, store::databasePassword(), store::schemaStatements(), fill);
        }
    } catch (const store::ServerSettingsError& error) {
        throw ToolError(error.message());
    } catch (const store::EngineError& error) {
        throw ToolError(QStringLiteral("Could not create %1: %2").arg(target, error.description()));
    }
    qsizetype count = 0;
    for (const auto& table : std::as_const(tables))
        count += table.second.values.size();
    context.out << "Copied " << count << " rows of " << tables.size() << " tables to " << target << ".\n";
    context.out.flush();
    return 0;
}

} // namespace aquilevel::tools
