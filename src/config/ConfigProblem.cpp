#include "config/ConfigProblem.h"

#include <QStringList>

namespace aquilevel::config {

QString ConfigProblem::text() const
{
    if (standalone)
        return message;
    QString where = QStringLiteral("Table %1, version \"%2\"").arg(table, version);
    if (!field.isEmpty())
        where += QStringLiteral(", field %1").arg(field);
    return where + QStringLiteral(": ") + message;
}

QString describe(const ConfigProblems& problems)
{
    QStringList lines;
    for (const ConfigProblem& problem : problems)
        lines.append(problem.text());
    return lines.join(QLatin1Char('\n'));
}

ConfigError::ConfigError(ConfigProblems problems)
    : std::runtime_error(describe(problems).toStdString()), m_problems(std::move(problems))
{
}

} // namespace aquilevel::config
