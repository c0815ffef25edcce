#include "store/Store.h"
#include "tools/CommandArguments.h"
#include "tools/ReportPdf.h"
#include "tools/SessionReport.h"
#include "tools/ToolCommand.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace aquilevel::tools {

namespace {

constexpr int kMinSide = 400;
constexpr int kMaxSide = 10000;

// A side length in pixels from an option, or -1 when the text is not one.
int side(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= kMinSide && value <= kMaxSide ? value : -1;
}

} // namespace

int runReport(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("report"),
                          QStringLiteral("Usage: aquilevel report --version V [--subject S] --out FILE.png "
                                         "[--width N] [--height N] [--include-pilots] [--include-excluded]\n"
                                         "       aquilevel report --version V --pdf FILE.pdf "
                                         "[--include-pilots] [--include-excluded]"),
                          context, CommandArguments::Help::WithOptions);
    QCommandLineParser& parser = args.parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws a participant's session into a PNG picture: the amount in the tank after each period "
        "against the goal and its band, the environment's net flow and the participant's orders, the "
        "periods in the band and the earnings.\n"
        "Without --subject, draws all participants of the version: every participant's amount after "
        "each period over the goal and its band, and the mean absolute distance from the goal per "
        "period, shaded \u00b1 one standard deviation. The axes are in the version's units (YUnits).\n"
        "With --pdf, writes the version's report instead: a first page of its figures (the periods in "
        "the band, the distance from the goal, the spread of the decision rule's alpha and beta over "
        "the participants, a table of the participants), then a page per participant: the amount "
        "against the goal and its band, the orders against the environment's flows, and the fitted "
        "rule's net orders against those typed (see aquilevel analyze).\n"
        "Participants marked as pilots or excluded (see aquilevel mark) are left out, and the report "
        "says how many, unless the options below take them in."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The experiment version (required)."),
                                     QStringLiteral("V"));
    const QCommandLineOption subject(QStringLiteral("subject"),
                                     QStringLiteral("The participant; without it, all participants."),
                                     QStringLiteral("S"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("The PNG file to write (required)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption width(QStringLiteral("width"),
                                   QStringLiteral("Picture width in pixels (default %1).").arg(kDefaultReportSize.width()),
                                   QStringLiteral("N"));
    const QCommandLineOption height(QStringLiteral("height"),
                                    QStringLiteral("Picture height in pixels (default %1).").arg(kDefaultReportSize.height()),
                                    QStringLiteral("N"));
    const QCommandLineOption pdf(QStringLiteral("pdf"),
                                 QStringLiteral("The PDF file of the version's report to write (instead of --out)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption pilots(QStringLiteral("include-pilots"), QStringLiteral("Take in participants marked as pilots."));
    const QCommandLineOption excluded(QStringLiteral("include-excluded"),
                                      QStringLiteral("Take in participants marked as excluded."));
    parser.addOptions({version, subject, out, pdf, width, height, pilots, excluded});
    if (const auto status = args.parse(arguments))
        return *status;
    if (parser.value(version).trimmed().isEmpty())
        return args.usageError(QStringLiteral("--version is required."));
    if (parser.isSet(pdf)) {
        if (parser.value(pdf).isEmpty())
            return args.usageError(QStringLiteral("--pdf needs a file name."));
        for (const QCommandLineOption* picture : {&out, &subject, &width, &height})
            if (parser.isSet(*picture))
                return args.usageError(
                    QStringLiteral("--pdf writes the whole version; it takes no --%1.").arg(picture->names().first()));
    } else if (parser.value(out).isEmpty()) {
        return args.usageError(QStringLiteral("--out or --pdf is required."));
    }
    if (parser.isSet(subject) && parser.value(subject).trimmed().isEmpty())
        return args.usageError(QStringLiteral("--subject needs a participant's name."));
    QSize size = kDefaultReportSize;
    if (parser.isSet(width)) {
        size.setWidth(side(parser.value(width)));
        if (size.width() < 0)
            return args.usageError(QStringLiteral("--width must be a whole number from %1 to %2.").arg(kMinSide).arg(kMaxSide));
    }
    if (parser.isSet(height)) {
        size.setHeight(side(parser.value(height)));
        if (size.height() < 0)
            return args.usageError(QStringLiteral("--height must be a whole number from %1 to %2.").arg(kMinSide).arg(kMaxSide));
    }

    const QString versionName = parser.value(version).trimmed();
    const QString path = parser.value(out);
    ToolStore tools(context.dataFolder);
    LeftOut leftOut{parser.isSet(pilots), parser.isSet(excluded)};
    if (parser.isSet(pdf)) {
        VersionReport report = loadVersionReport(tools.store(), versionName, leftOut);
        report.database = tools.path();
        const int pages = writeReportPdf(report, parser.value(pdf));
        context.out << "Wrote " << parser.value(pdf) << ": " << report.participants.size()
                    << (report.participants.size() == 1 ? " participant, " : " participants, ") << pages << " pages."
                    << Qt::endl;
        if (leftOut.total() > 0)
            context.err << leftOut.note() << Qt::endl;
    } else if (parser.isSet(subject)) {
        tools.store().read([&](store::Connection& c) { leftOut.read(c, versionName, parser.value(subject).trimmed()); },
                           QStringLiteral("datSubjectMark"), QStringLiteral("Drawing a report"));
        if (leftOut.total() > 0)
            throw ToolError(QStringLiteral("Participant %1 of version %2 is marked as %3; nothing was drawn. %4")
                                .arg(parser.value(subject).trimmed(), versionName,
                                     leftOut.pilots > 0 ? QStringLiteral("a pilot") : QStringLiteral("excluded"),
                                     leftOut.note()));
        const SessionData data = loadSession(tools.store(), versionName, parser.value(subject).trimmed());
        writePngAtomically(drawSession(data, size), path);
        context.out << "Wrote " << path << ": " << data.periodsInBand() << " of " << data.periods.size()
                    << " periods in the band, earnings " << QString::number(data.earnings, 'f', 2) << "."
                    << Qt::endl;
    } else {
        const DistributionData data = loadDistribution(tools.store(), versionName, &leftOut);
        writePngAtomically(drawDistribution(data, size), path);
        context.out << "Wrote " << path << ": " << data.participants
                    << (data.participants == 1 ? " participant." : " participants.") << Qt::endl;
        if (leftOut.total() > 0)
            context.err << leftOut.note() << Qt::endl;
    }
    return 0;
}

} // namespace aquilevel::tools
