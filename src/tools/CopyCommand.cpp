#include "tools/CopyCommand.h"

#include "store/ConfigTables.h"
#include "store/DataTables.h"
#include "store/Engine.h"
#include "store/NameKey.h"
#include "store/ServerSettings.h"
#include "store/Store.h"
#include "store/TableRows.h"
#include "store/Tables.h"
#include "tools/CommandArguments.h"
#include "tools/Printable.h"

#include <QFileInfo>
#include <QMap>

#include <optional>
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
        "must not hold the experiment's tables yet. A source in which one version holds two\n"
        "spellings of a participant's name that differ only in letter case is refused, as the\n"
        "target would take them for one participant. Seed a lab server from a configured\n"
        "file, or archive a server's data into a file at the end of a study.\n\n"
        "Options:\n"
        "  --from SOURCE  the database to read\n"
        "  --to TARGET    the database to create\n"
        "  --help         show this text\n");
}

// Rows read and written per step, so that memory does not grow with the data.
constexpr int kChunkRows = 2000;

// The tables copied, configuration first, in the order of the table list; a station's
// own bookkeeping belongs to the running sessions and is not copied.
QList<const store::TableDef*> copiedTables()
{
    QList<const store::TableDef*> tables;
    for (const store::TableDef& table : store::allTables())
        if (table.kind != store::TableKind::Internal)
            tables.append(&table);
    return tables;
}

// The target failed: not the source's to retry.
struct TargetFailed {
    QString message;
    bool withTarget = true; // the message names the target itself
};
// A read of the source failed inside the target's transaction: retried as the source's.
struct SourceFailed {};

// Participants of one version whose names differ only where their keys do not: the
// target would find them as one participant.
QStringList mergedNames(store::Connection& c)
{
    QStringList found;
    for (const store::SubjectTable::SharedKey& shared : store::SubjectTable::namesSharingAKey(c)) {
        QStringList quoted;
        for (const QString& name : shared.spellings)
            quoted.append(QStringLiteral("\"%1\"").arg(printable(name)));
        found.append(QStringLiteral("version \"%1\": %2").arg(printable(shared.version), quoted.join(QStringLiteral(" and "))));
    }
    return found;
}

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

    std::unique_ptr<store::Engine> sourceEngine;
    std::unique_ptr<store::Engine> targetEngine;
    try {
        if (!store::isServerUrl(source) && !QFileInfo(source).isFile())
            throw ToolError(QStringLiteral("There is no database file at %1.").arg(source));
        if (!store::isServerUrl(target) && QFileInfo::exists(target))
            throw ToolError(QStringLiteral("%1 already exists; nothing was changed.").arg(target));
        sourceEngine = store::engineAt(source);
        targetEngine = store::engineAt(target);
    } catch (const store::ServerSettingsError& error) {
        throw ToolError(error.message());
    }

    // The source is read in one read-only transaction, one moment of the experiment, and
    // written table by table, chunk by chunk, into the target's creation transaction.
    const QList<const store::TableDef*> tables = copiedTables();
    qint64 count = 0;
    ToolStore reader(std::move(sourceEngine));
    try {
        reader.store().transaction(
            [&](store::Connection& from) {
                count = 0; // a retried transaction starts over
                // The target keeps participants apart by their keys: two spellings with one
                // key would become one participant there.
                const QStringList merged = mergedNames(from);
                if (!merged.isEmpty())
                    throw ToolError(QStringLiteral("The source holds participants whose names differ only in letter "
                                                   "case, which the program takes for one "
                                                   "participant: %1. Rename one of each before copying; nothing was "
                                                   "written.")
                                        .arg(merged.join(QStringLiteral("; "))));
                QList<qint64> last;
                for (const store::TableDef* table : tables)
                    last.append(store::lastRowPosition(from, *table));
                std::optional<store::EngineError> sourceError;
                const auto fill = [&](store::Connection& to) {
                    QList<QVariantList> chunk;
                    for (qsizetype t = 0; t < tables.size(); ++t) {
                        const store::TableDef& table = *tables.at(t);
                        QStringList columns;
                        for (const store::ColumnDef& column : table.shownColumns())
                            columns.append(column.name);
                        for (qint64 after = 0;;) {
                            chunk.clear();
                            try {
                                after = store::readRows(from, table, {}, after, last.at(t), kChunkRows,
                                                        [&](const QVariantList& row) { chunk.append(row); });
                            } catch (const store::EngineError& error) {
                                sourceError = error;
                                throw SourceFailed{};
                            }
                            for (const QVariantList& row : std::as_const(chunk))
                                store::appendRow(to, table, columns, row);
                            count += chunk.size();
                            if (chunk.size() < kChunkRows)
                                break;
                        }
                    }
                };
                try {
                    targetEngine->create(fill);
                } catch (const SourceFailed&) {
                    throw *sourceError;
                } catch (const store::StoreError& error) {
                    throw TargetFailed{error.message(), false};
                } catch (const store::EngineError& error) {
                    throw TargetFailed{error.description()};
                }
            },
            true, QStringLiteral("Copying an experiment"));
    } catch (const TargetFailed& failed) {
        if (!failed.withTarget)
            throw ToolError(failed.message);
        throw ToolError(QStringLiteral("Could not create %1: %2").arg(target, failed.message));
    }
    context.out << "Copied " << count << " rows of " << tables.size() << " tables to " << target << ".\n";
    context.out.flush();
    return 0;
}

} // namespace aquilevel::tools
