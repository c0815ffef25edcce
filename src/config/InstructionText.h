#pragma once

#include <QStringList>

namespace aquilevel::config {

struct ExperimentSetup;

// A version's own instruction pages are written by the lab, with placeholders such as
// {MaxTrial} or {CurrencySymbol} that stand for the version's values, so that one text
// stays right when a number of the version changes. A placeholder is a name of letters
// and digits in braces; anything else in braces is text.

// Every placeholder name a page may use, in a fixed order.
QStringList instructionPlaceholders();

// The page with every known placeholder replaced by the version's value, numbers in the
// general number form; an unknown {name} stays as typed.
QString fillInstructionText(const QString& text, const ExperimentSetup& setup);

// The placeholder names of the page that are not known, each once, in order.
QStringList unknownPlaceholders(const QString& text);

} // namespace aquilevel::config
