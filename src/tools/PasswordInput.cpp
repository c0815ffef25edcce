#include "tools/PasswordInput.h"

#include "tools/ToolCommand.h"

#include <QTextStream>

#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace aquilevel::tools {

namespace {

// One line of standard input, without its line end; nothing at end of input.
std::optional<QString> readLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

// Asks on the terminal with echo turned off, and restores the terminal afterwards.
std::optional<QString> readHidden(const QString& prompt, const ToolContext& context)
{
    context.err << prompt;
    context.err.flush();
    termios saved {};
    const bool haveTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<QString> line = readLine();
    if (haveTerminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return line;
}

} // namespace

std::optional<QString> readPassword(const QString& prompt, const ToolContext& context)
{
    return ::isatty(STDIN_FILENO) ? readHidden(prompt, context) : readLine();
}

} // namespace aquilevel::tools
