#pragma once

#include <QList>
#include <QString>

#include <stdexcept>

namespace aquilevel::config {

// One thing wrong with a version's configuration.
struct ConfigProblem {
    QString table;
    QString version;
    QString field;
    QString message;
    // The message is a complete sentence of its own, shown as it stands.
    bool standalone = false;
    // The row of the version's labels or scenario the problem is in, counted from 0 as
    // VersionConfig holds them; -1 for the setup row or the table as a whole.
    int row = -1;

    QString text() const;
};

using ConfigProblems = QList<ConfigProblem>;

// All problems as one message for the person at the screen.
QString describe(const ConfigProblems& problems);

// A configuration that cannot be loaded.
class ConfigError : public std::runtime_error {
public:
    explicit ConfigError(ConfigProblems problems);
    const ConfigProblems& problems() const { return m_problems; }

private:
    ConfigProblems m_problems;
};

} // namespace aquilevel::config
