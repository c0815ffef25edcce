#pragma once

#include <QString>

namespace aquilevel::config {

// "00.000" and "00.00": at least two digits before the point and exactly `decimals`
// after it, rounded half away from zero (5.5 -> "05.50", 123.456 -> "123.46"; with no
// decimals no point: 5.5 -> "06").
QString formatPadded(double value, int decimals);
inline QString format000(double value) { return formatPadded(value, 3); }
inline QString format00(double value) { return formatPadded(value, 2); }

// The general number form: 15 significant digits, no trailing zeros or point, no
// thousands separators, the locale's decimal separator (0.07 * 100 -> "7").
QString generalNumber(double value);

// The general number form with a point, whatever the locale: the values of the pipe
// cells (0.1 * 3 -> "0.3", never "0.30000000000000004").
QString pointNumber(double value);

// The shortest plain decimal text that reads back as the same double, with a point.
QString plainDecimal(double value);

// At most `decimals` decimals with a point, rounded, without trailing zeros, a trailing
// point or an exponent; never "-0" (2.50 -> "2.5", -0.0000001 to 6 -> "0").
QString fixedDecimal(double value, int decimals);

// The number a text begins with: blanks are skipped,
// then an optional sign, digits, a point and digits, an optional exponent.
// 0 when the text does not begin with a number.
double leadingNumber(const QString& text);
// The same, telling whether the text began with a number at all.
bool beginsWithNumber(const QString& text);

// Int(value * factor + 0.5) / factor, Int rounding down (towards minus infinity).
double RoundHalfUp(double value, double factor);

// Rounds to the nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4),
// the rule for turning reals into whole numbers and timer intervals everywhere.
double roundHalfEven(double value);

} // namespace aquilevel::config
