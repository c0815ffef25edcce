#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

class QTextStream;

namespace aquilevel {
class Prompter;
namespace store {
class Engine;
class Store;
class RealPacer;
class RandomSource;
} // namespace store
} // namespace aquilevel

namespace aquilevel::tools {

// What every experimenter's command gets: the data folder (from --data, the environment
// or the default) and where to write.
struct ToolContext {
    QString dataFolder;
    QTextStream& out;
    QTextStream& err;
};

// A command's arguments are those after its name, without the global --data option.
// It returns the process's exit status: 0 for success, 1 when it failed, 2 for bad usage.
using ToolMain = int (*)(const QStringList& arguments, const ToolContext& context);

struct ToolCommand {
    QString name;
    QString summary;
    ToolMain run;
    bool opensWindow = false; // on the display when there is one, else refused by the command
};

// Every command of the program besides the participant's session.
const QList<ToolCommand>& toolCommands();

// A failure a command reports in one line and exits 1 for.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// The experiment database of a data folder, opened for a command that runs without a
// person to ask: a failed access is not retried but ends the command with a ToolError.
class ToolStore final {
public:
    // Throws ToolError when the folder holds no database, or (unless `refuseDamaged` is
    // false, for the command that lists the damage) one whose pages are damaged.
    explicit ToolStore(const QString& dataFolder, bool refuseDamaged = true);
    // The store on a given engine (a database named on the command line).
    explicit ToolStore(std::unique_ptr<store::Engine> engine, bool refuseDamaged = true);
    ~ToolStore();
    store::Store& store() { return *m_store; }
    QString path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<Prompter> m_prompter;
    std::unique_ptr<store::RealPacer> m_pacer;
    std::unique_ptr<store::RandomSource> m_random;
    std::unique_ptr<store::Store> m_store;
};

} // namespace aquilevel::tools
