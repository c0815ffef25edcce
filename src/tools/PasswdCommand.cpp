#include "tools/PasswdCommand.h"

#include "config/DemoConfig.h"
#include "session/ExperimenterAccounts.h"
#include "store/Store.h"
#include "tools/CommandArguments.h"
#include "tools/PasswordInput.h"

#include <QTextStream>

#include <optional>

namespace aquilevel::tools {

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: aquilevel [--data DIR] passwd USER\n\n"
        "Sets the password of the experimenter account USER in tblPasswords, adding the\n"
        "account when there is none (user names are matched without regard to letter case).\n"
        "The new password is asked twice without echo; when standard input is not a terminal\n"
        "its first two lines are read instead. Both must match. The password is stored as a\n"
        "bcrypt hash; it must have at least 10 characters and at most 72 bytes in UTF-8\n"
        "(bcrypt ignores the rest), and must be neither the user name (in any letter case)\n"
        "nor the demo account's published password.\n\n"
        "Options:\n"
        "  --help   show this text\n");
}

// Why `password` is refused for `user`; empty when it is accepted.
QString refusal(const QString& user, const QString& password)
{
    if (password.isEmpty())
        return QStringLiteral("An empty password is not allowed");
    if (password.toUcs4().size() < 10)
        return QStringLiteral("The password must have at least 10 characters");
    if (password.toUtf8().size() > 72)
        return QStringLiteral("The password must not be longer than 72 bytes in UTF-8 (bcrypt ignores the rest)");
    if (password.toCaseFolded() == user.toCaseFolded())
        return QStringLiteral("The password must not be the user name");
    if (password == config::kDemoPassword)
        return QStringLiteral("The password must not be the demo account's published password");
    return {};
}

} // namespace

int runPasswd(const QStringList& arguments, const ToolContext& context)
{
    CommandArguments args(QStringLiteral("passwd"), usage(), context);
    if (const auto status = args.parse(arguments, 1, QStringLiteral("USER")))
        return *status;
    const QString user = args.parser.positionalArguments().first();
    if (user.trimmed().isEmpty())
        throw ToolError(QStringLiteral("The user name must not be empty."));

    // The database must be there before anyone is asked for a password.
    ToolStore tool(context.dataFolder);
    store::Store& store = tool.store();

    const std::optional<QString> first = readPassword(QStringLiteral("New password for %1: ").arg(user), context);
    const std::optional<QString> second =
        first ? readPassword(QStringLiteral("Type it again: "), context) : std::nullopt;
    if (!first || !second)
        throw ToolError(QStringLiteral("The new password must be given twice; nothing was changed."));
    if (*first != *second)
        throw ToolError(QStringLiteral("The two passwords differ; nothing was changed."));
    if (const QString refused = refusal(user, *first); !refused.isEmpty())
        throw ToolError(refused + QStringLiteral("; nothing was changed."));
    const QString& password = *first;

    const int changed = SetAccountPassword(store, user, password);

    if (changed == 0)
        context.out << "Added the experimenter account " << user << ".\n";
    else
        context.out << "Changed the password of " << user
                    << (changed == 1 ? QString() : QStringLiteral(" (%1 rows)").arg(changed)) << ".\n";
    context.out.flush();
    return 0;
}

} // namespace aquilevel::tools
