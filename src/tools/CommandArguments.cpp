#include "tools/CommandArguments.h"

#include "tools/ToolCommand.h"

#include <QTextStream>

namespace aquilevel::tools {

CommandArguments::CommandArguments(QString name, QString usage, const ToolContext& context, Help help)
    : m_name(std::move(name)),
      m_usage(usage.endsWith(QLatin1Char('\n')) ? usage : usage + QLatin1Char('\n')),
      m_context(context),
      m_help(help),
      m_helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."))
{
    parser.addOption(m_helpOption);
}

std::optional<int> CommandArguments::parse(const QStringList& arguments, int positional, const QString& missing)
{
    if (!parser.parse(QStringList{QStringLiteral("aquilevel ") + m_name} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(m_helpOption)) {
        m_context.out << m_usage;
        // The parser's own first line names the running program, not the command.
        if (m_help == Help::WithOptions)
            m_context.out << "\n" << parser.helpText().section(QLatin1Char('\n'), 1);
        m_context.out.flush();
        return 0;
    }
    const QStringList given = parser.positionalArguments();
    if (given.size() < positional)
        return usageError(missing + QStringLiteral(" is missing"));
    if (given.size() > positional)
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(given.at(positional)));
    return std::nullopt;
}

int CommandArguments::usageError(const QString& problem) const
{
    m_context.err << "aquilevel " << m_name << ": " << problem << "\n" << m_usage;
    m_context.err.flush();
    return 2;
}

} // namespace aquilevel::tools
