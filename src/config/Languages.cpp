#include "config/Languages.h"

#include <QLocale>

namespace aquilevel::config {

namespace {

QString g_shown = QStringLiteral("en");

} // namespace

QStringList knownLanguages()
{
    return {QStringLiteral("en"), QStringLiteral("de")};
}

bool isKnownLanguage(const QString& code)
{
    return code.isEmpty() || knownLanguages().contains(code);
}

QString shownLanguage()
{
    return g_shown;
}

void setShownLanguage(const QString& code)
{
    g_shown = code.isEmpty() ? QStringLiteral("en") : code;
}

QString shownDecimal(const QString& pointText)
{
    // English keeps the point whatever the station's own locale is, as it always has.
    if (g_shown == QLatin1String("en"))
        return pointText;
    const QString point = QLocale(g_shown).decimalPoint();
    QString text = pointText;
    return text.replace(QLatin1Char('.'), point);
}

} // namespace aquilevel::config
