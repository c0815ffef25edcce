#pragma once

#include <QString>
#include <QStringList>

namespace aquilevel::config {

// The languages the program ships its screens in, as the codes tblSetup's Language holds
// ("en" first: the texts as written in the sources). English is also what an empty
// Language means.
QStringList knownLanguages();

// Whether code names a shipped language; empty counts as English.
bool isKnownLanguage(const QString& code);

// The language the participant's screens are shown in now ("en" until one is chosen).
// Set by the screens' language switch; the number forms below follow it.
QString shownLanguage();
void setShownLanguage(const QString& code);

// A number as text with a point, shown in the participant's language: the point becomes
// that language's decimal separator ("12.500" stays so in English, "12,500" in German).
// What is stored keeps the point.
QString shownDecimal(const QString& pointText);

} // namespace aquilevel::config
