#pragma once

#include "tools/ToolCommand.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace aquilevel::test {

// What an experimenter's command printed, and its exit status.
struct ToolResult {
    int status = -1;
    QString out;
    QString err;
    // The printed lines, empty ones left out.
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

using ToolFunction = std::function<int(const QStringList&, const tools::ToolContext&)>;

// A command function called as the program calls it: its output captured, and a
// ToolError turned into its message on the error stream and status 1.
ToolResult runTool(const ToolFunction& command, const QString& dataFolder, const QStringList& arguments);

// The built program itself (or another program built beside it) with ARGUMENTS and
// INPUT on its standard input. The status stays -1 when it does not end within 30 s.
ToolResult runProgram(const QStringList& arguments, const QByteArray& input = {},
                      const QString& program = QStringLiteral("aquilevel"));

} // namespace aquilevel::test
