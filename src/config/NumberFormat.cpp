#include "config/NumberFormat.h"

#include <QLocale>

#include <cmath>

namespace aquilevel::config {

QString formatPadded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double magnitude = std::fabs(value);
    QString digits;
    bool zero = false;
    if (magnitude * scale < 1e15) {
        // Read the scaled value to 15 significant digits first, so that 2.0005 rounds
        // as the decimal number it was typed as, then round halves away from zero.
        const double scaled = QString::number(magnitude * scale, 'g', 15).toDouble();
        const qint64 whole = static_cast<qint64>(std::round(scaled));
        zero = whole == 0;
        digits = QString::number(whole).rightJustified(decimals + 1, QLatin1Char('0'));
        if (decimals > 0)
            digits.insert(digits.size() - decimals, QLatin1Char('.'));
    } else {
        digits = QString::number(magnitude, 'f', decimals);
    }
    // Without decimals there is no point either: "05".
    digits = digits.rightJustified(decimals > 0 ? decimals + 3 : 2, QLatin1Char('0'));
    return value < 0 && !zero ? QLatin1Char('-') + digits : digits;
}

QString generalNumber(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    QString text = QString::number(value, 'g', 15);
    const QString point = QLocale().decimalPoint();
    if (point != QStringLiteral("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

QString pointNumber(double value)
{
    return value == 0 ? QStringLiteral("0") : QString::number(value, 'g', 15);
}

QString plainDecimal(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

QString fixedDecimal(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

namespace {

// Parses the leading number of text; returns false when there is none.
bool parseLeading(const QString& text, double& result)
{
    QString compact;
    compact.reserve(text.size());
    for (QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') &&
            c != QLatin1Char('\r'))
            compact.append(c);

    qsizetype i = 0;
    const qsizetype n = compact.size();
    QString number;
    if (i < n && (compact[i] == QLatin1Char('+') || compact[i] == QLatin1Char('-')))
        number.append(compact[i++]);
    int mantissaDigits = 0;
    while (i < n && compact[i].isDigit() && compact[i].unicode() < 128) {
        number.append(compact[i++]);
        ++mantissaDigits;
    }
    if (i < n && compact[i] == QLatin1Char('.')) {
        number.append(compact[i++]);
        while (i < n && compact[i].isDigit() && compact[i].unicode() < 128) {
            number.append(compact[i++]);
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        result = 0;
        return false;
    }
    if (i < n && QStringLiteral("eEdD").contains(compact[i])) {
        qsizetype j = i + 1;
        QString exponent = QStringLiteral("e");
        if (j < n && (compact[j] == QLatin1Char('+') || compact[j] == QLatin1Char('-')))
            exponent.append(compact[j++]);
        const qsizetype firstDigit = j;
        while (j < n && compact[j].isDigit() && compact[j].unicode() < 128)
            exponent.append(compact[j++]);
        if (j > firstDigit)
            number.append(exponent);
    }
    bool ok = false;
    result = number.toDouble(&ok);
    if (!ok)
        result = 0;
    return ok;
}

} // namespace

double leadingNumber(const QString& text)
{
    double result = 0;
    parseLeading(text, result);
    return result;
}

bool beginsWithNumber(const QString& text)
{
    double result = 0;
    return parseLeading(text, result);
}

double RoundHalfUp(double value, double factor)
{
    return std::floor(value * factor + 0.5) / factor;
}

double roundHalfEven(double value)
{
    return std::nearbyint(value);
}

} // namespace aquilevel::config
