#include "session/Language.h"

#include "config/Languages.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace aquilevel {

namespace {

std::unique_ptr<QTranslator> g_program;
std::unique_ptr<QTranslator> g_qt;

void remove(std::unique_ptr<QTranslator>& translator)
{
    if (translator)
        QCoreApplication::removeTranslator(translator.get());
    translator.reset();
}

} // namespace

bool useLanguage(const QString& code)
{
    if (!config::isKnownLanguage(code))
        return false;
    // The number forms in use before any language was chosen, to return to for English.
    static const QLocale before = QLocale();
    remove(g_program);
    remove(g_qt);
    const bool english = code.isEmpty() || code == QLatin1String("en");
    config::setShownLanguage(code);
    if (english) {
        QLocale::setDefault(before);
        return true;
    }
    g_program = std::make_unique<QTranslator>();
    if (g_program->load(QStringLiteral(":/i18n/aquilevel_%1.qm").arg(code)))
        QCoreApplication::installTranslator(g_program.get());
    else // a build without it: said, not hidden behind English screens
        qWarning("The translation \"%s\" is not built into this program.", qPrintable(code));
    g_qt = std::make_unique<QTranslator>();
    // A missing Qt translation leaves only the standard buttons in English.
    if (g_qt->load(QStringLiteral("qtbase_%1").arg(code), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(g_qt.get());
    QLocale::setDefault(QLocale(code));
    return true;
}

QString unknownLanguageMessage(const QString& code)
{
    return QStringLiteral("Unknown language \"%1\"; the known languages are: %2.")
        .arg(code, config::knownLanguages().join(QStringLiteral(", ")));
}

} // namespace aquilevel
