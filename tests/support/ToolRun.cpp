#include "support/ToolRun.h"

#include <QProcess>
#include <QTextStream>

namespace aquilevel::test {

ToolResult runTool(const ToolFunction& command, const QString& dataFolder, const QStringList& arguments)
{
    ToolResult result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    try {
        result.status = command(arguments, {dataFolder, out, err});
    } catch (const tools::ToolError& error) {
        err << error.message();
        result.status = 1;
    }
    out.flush();
    err.flush();
    return result;
}

ToolResult runProgram(const QStringList& arguments, const QByteArray& input, const QString& program)
{
    QProcess process;
    process.start(qEnvironmentVariable("AQUILEVEL_TEST_BIN") + QLatin1Char('/') + program, arguments);
    ToolResult result;
    if (!process.waitForStarted(30000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.status = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace aquilevel::test
