#include "tools/CommandArguments.h"
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
                                         "[--width N] [--height N]"),
                          context, CommandArguments::Help::WithOptions);
    QCommandLineParser& parser = args.parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws a participant's session into a PNG picture: the amount in the tank after each period "
        "against the goal and its band, the environment's net flow and the participant's orders, the "
        "periods in the band and the earnings.\n"
        "Without --subject, draws all participants of the version: every participant's amount after "
        "each period over the goal and its band, and the mean absolute distance from the goal per "
        "period, shaded \u00b1 one standard deviation. The axes are in the version's units (YUnits)."));
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
    parser.addOptions({version, subject, out, width, height});
    if (const auto status = args.parse(arguments))
        return *status;
    if (parser.value(version).trimmed().isEmpty())
        return args.usageError(QStringLiteral("--version is required."));
    if (parser.value(out).isEmpty())
        return args.usageError(QStringLiteral("--out is required."));
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
    if (parser.isSet(subject)) {
        const SessionData data = loadSession(tools.store(), versionName, parser.value(subject).trimmed());
        writePngAtomically(drawSession(data, size), path);
        context.out << "Wrote " << path << ": " << data.periodsInBand() << " of " << data.periods.size()
                    << " periods in the band, earnings " << QString::number(data.earnings, 'f', 2) << "."
                    << Qt::endl;
    } else {
        const DistributionData data = loadDistribution(tools.store(), versionName);
        writePngAtomically(drawDistribution(data, size), path);
        context.out << "Wrote " << path << ": " << data.participants
                    << (data.participants == 1 ? " participant." : " participants.") << Qt::endl;
    }
    return 0;
}

} // namespace aquilevel::tools
