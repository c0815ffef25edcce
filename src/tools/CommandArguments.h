#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

namespace aquilevel::tools {

struct ToolContext;

// The arguments of one experimenter's command, handled alike for every command: --help
// (or -h) prints the usage, and a usage error prints "aquilevel NAME: PROBLEM" followed by
// the usage, for exit status 2. The command adds its own options to `parser`.
class CommandArguments {
public:
    enum class Help {
        UsageOnly,   // the usage text says everything
        WithOptions, // the usage, then the parser's description and option texts
    };

    CommandArguments(QString name, QString usage, const ToolContext& context, Help help = Help::UsageOnly);

    QCommandLineParser parser;

    // Parses the arguments after the command's name. The command takes `positional`
    // arguments besides its options (0 or 1; `missing` names the one). Returns the exit
    // status when the command ends here, 0 after the help and 2 after a usage error, or
    // nothing when it goes on.
    std::optional<int> parse(const QStringList& arguments, int positional = 0, const QString& missing = {});

    // Prints a usage error and returns 2.
    int usageError(const QString& problem) const;

private:
    QString m_name;
    QString m_usage; // ends with a line break
    const ToolContext& m_context;
    Help m_help;
    QCommandLineOption m_helpOption;
};

} // namespace aquilevel::tools
