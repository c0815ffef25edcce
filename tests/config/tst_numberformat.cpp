#include "config/NumberFormat.h"

#include <QLocale>
#include <QtTest>

using namespace aquilevel::config;

class TestNumberFormat : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void padded_data();
    void padded();

    void generalNumber_data();
    void generalNumber();
    void generalNumberUsesTheLocaleSeparator();
    void generalNumberOfHugeValuesKeepsFifteenDigits_data();
    void generalNumberOfHugeValuesKeepsFifteenDigits();

    void plainDecimal_data();
    void plainDecimal();

    void leadingNumber_data();
    void leadingNumber();

    void roundHalfUp_data();
    void roundHalfUp();

    void roundHalfEven_data();
    void roundHalfEven();
};

void TestNumberFormat::padded_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");

    // The earnings pattern "00.00".
    QTest::newRow("zero") << 0.0 << 2 << "00.00";
    QTest::newRow("twelve and a half") << 12.5 << 2 << "12.50";
    QTest::newRow("one digit padded") << 5.5 << 2 << "05.50";
    QTest::newRow("three integer digits rounded") << 123.456 << 2 << "123.46";
    QTest::newRow("whole five") << 5.0 << 2 << "05.00";
    QTest::newRow("below one") << 0.07 << 2 << "00.07";
    QTest::newRow("half rounds up") << 0.125 << 2 << "00.13";
    QTest::newRow("rounding carries into a new digit") << 99.995 << 2 << "100.00";
    QTest::newRow("large") << 1234567.891 << 2 << "1234567.89";
    QTest::newRow("negative") << -5.5 << 2 << "-05.50";
    QTest::newRow("negative rounded") << -123.456 << 2 << "-123.46";
    QTest::newRow("negative half away from zero") << -0.125 << 2 << "-00.13";
    QTest::newRow("negative rounding to zero has no sign") << -0.001 << 2 << "00.00";

    // The trial screen's "00.000".
    QTest::newRow("000 zero") << 0.0 << 3 << "00.000";
    QTest::newRow("000 one digit") << 1.5 << 3 << "01.500";
    QTest::newRow("000 typed half") << 2.0005 << 3 << "02.001";
    QTest::newRow("000 below the last digit") << 2.00049 << 3 << "02.000";
    QTest::newRow("000 computed value") << 0.07 * 100 << 3 << "07.000";
    QTest::newRow("000 three digits") << 590.1234 << 3 << "590.123";
    QTest::newRow("000 negative") << -3.9 << 3 << "-03.900";
}

void TestNumberFormat::padded()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(formatPadded(value, decimals), expected);
    if (decimals == 2)
        QCOMPARE(format00(value), expected);
    else if (decimals == 3)
        QCOMPARE(format000(value), expected);
}

void TestNumberFormat::generalNumber_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("computed seven") << 0.07 * 100 << "7";
    QTest::newRow("computed five") << 0.05 * 100 << "5";
    QTest::newRow("four minus a tenth") << 4 - 0.1 << "3.9";
    QTest::newRow("whole difference") << 600.0 - 10.0 << "590";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("negative") << -2.25 << "-2.25";
    QTest::newRow("tenth sum") << 0.1 + 0.2 << "0.3";
    QTest::newRow("fifteen digits kept") << 123456789012345.0 << "123456789012345";
    QTest::newRow("no grouping") << 1234567.5 << "1234567.5";
    QTest::newRow("third") << 1.0 / 3.0 << "0.333333333333333";
    QTest::newRow("small") << 0.000123 << "0.000123";
}

void TestNumberFormat::generalNumber()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(aquilevel::config::generalNumber(value), expected);
}

void TestNumberFormat::generalNumberUsesTheLocaleSeparator()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(aquilevel::config::generalNumber(4 - 0.1), QStringLiteral("3,9"));
    QCOMPARE(aquilevel::config::generalNumber(1234567.5), QStringLiteral("1234567,5"));
}

void TestNumberFormat::generalNumberOfHugeValuesKeepsFifteenDigits_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("fifteenDigits");

    QTest::newRow("tiny") << 1e-5 << 1e-5;
    QTest::newRow("tiny computed") << 0.1 * 0.0001 << 1e-5;
    QTest::newRow("eighteen digits") << 123456789012345678.0 << 1.23456789012346e17;
    QTest::newRow("huge") << 1e20 << 1e20;
    QTest::newRow("near the largest double") << 1.234567890123456789e300 << 1.23456789012346e300;
}

// Very small and very large values may use an exponent, but must still be the value to
// 15 significant digits, without grouping and without trailing zeros.
void TestNumberFormat::generalNumberOfHugeValuesKeepsFifteenDigits()
{
    QFETCH(double, value);
    QFETCH(double, fifteenDigits);
    const QString text = aquilevel::config::generalNumber(value);
    bool ok = false;
    const double back = text.toDouble(&ok);
    QVERIFY2(ok, qPrintable(text));
    QCOMPARE(back, fifteenDigits);
    QVERIFY2(!text.contains(QLatin1Char(',')), qPrintable(text));
    const QString mantissa = text.section(QLatin1Char('e'), 0, 0, QString::SectionCaseInsensitiveSeps);
    QVERIFY2(!mantissa.contains(QLatin1Char('.')) || !mantissa.endsWith(QLatin1Char('0')),
             qPrintable(text));
}

void TestNumberFormat::plainDecimal_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    // The pipe cells: fifteen significant digits, a point.
    QTest::addColumn<QString>("cell");

    // The analysis files: at most nine decimals, no exponent.
    QTest::addColumn<QString>("nine");

    QTest::newRow("zero") << 0.0 << "0" << "0" << "0";
    QTest::newRow("tenth") << 0.1 << "0.1" << "0.1" << "0.1";
    QTest::newRow("negative") << -3.75 << "-3.75" << "-3.75" << "-3.75";
    QTest::newRow("whole") << 590.0 << "590" << "590" << "590";
    // Every digit needed to read back the same double, and no more.
    QTest::newRow("computed seven") << 0.07 * 100 << "7.000000000000001" << "7" << "7";
    QTest::newRow("three tenths") << 0.1 * 3 << "0.30000000000000004" << "0.3" << "0.3";
    QTest::newRow("tiny without exponent") << 1e-5 << "0.00001" << "1e-05" << "0.00001";
    QTest::newRow("huge without exponent") << 1e20 << "100000000000000000000" << "1e+20" << "100000000000000000000";
    QTest::newRow("below the ninth decimal") << -1e-10 << "-0.0000000001" << "-1e-10" << "0";
}

void TestNumberFormat::plainDecimal()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(aquilevel::config::plainDecimal(value), expected);
    // The point stays a point whatever the locale, and the text reads back exactly.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = aquilevel::config::plainDecimal(value);
    QCOMPARE(text, expected);
    QCOMPARE(QLocale::c().toDouble(text), value);
    QFETCH(QString, cell);
    QCOMPARE(aquilevel::config::pointNumber(value), cell);
    QFETCH(QString, nine);
    QCOMPARE(aquilevel::config::fixedDecimal(value, 9), nine);
}

void TestNumberFormat::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("begins");

    QTest::newRow("number and unit") << "100 Gallons" << 100.0 << true;
    QTest::newRow("leading blanks, decimal, letters") << "  12.5abc" << 12.5 << true;
    QTest::newRow("negative") << "-3" << -3.0 << true;
    QTest::newRow("plus sign") << "+7" << 7.0 << true;
    QTest::newRow("exponent") << "1e3" << 1000.0 << true;
    QTest::newRow("capital exponent with sign") << "25E-1 m" << 2.5 << true;
    QTest::newRow("D exponent") << "1d2" << 100.0 << true;
    QTest::newRow("exponent without digits ignored") << "4e" << 4.0 << true;
    QTest::newRow("point first") << ".5" << 0.5 << true;
    QTest::newRow("blanks inside are skipped") << "1 2" << 12.0 << true;
    QTest::newRow("tab and blank inside") << "3\t4 .5" << 34.5 << true;
    QTest::newRow("blank after the sign") << "- 3" << -3.0 << true;
    QTest::newRow("comma ends the number") << "1,5" << 1.0 << true;
    QTest::newRow("second point ends the number") << "1.2.3" << 1.2 << true;
    QTest::newRow("letters") << "abc" << 0.0 << false;
    QTest::newRow("empty") << "" << 0.0 << false;
    QTest::newRow("blanks only") << "   " << 0.0 << false;
    QTest::newRow("sign only") << "-" << 0.0 << false;
    QTest::newRow("point only") << "." << 0.0 << false;
    QTest::newRow("sign and point") << "+.e5" << 0.0 << false;
    QTest::newRow("letter before digits") << "x100" << 0.0 << false;
}

void TestNumberFormat::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QFETCH(bool, begins);
    QCOMPARE(aquilevel::config::leadingNumber(text), expected);
    QCOMPARE(beginsWithNumber(text), begins);
}

void TestNumberFormat::roundHalfUp_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("expected");

    QTest::newRow("up at the fourth decimal") << 3.8996 << 1000.0 << 3.9;
    QTest::newRow("down at the fourth decimal") << 3.8994 << 1000.0 << 3.899;
    QTest::newRow("half up, whole") << 2.5 << 1.0 << 3.0;
    QTest::newRow("below half, whole") << 2.49 << 1.0 << 2.0;
    QTest::newRow("hundredths") << 1.005 << 100.0 << 1.0; // 1.005 is stored below the half
    QTest::newRow("exact value kept") << 7.25 << 100.0 << 7.25;
    QTest::newRow("negative half towards plus infinity") << -2.5 << 1.0 << -2.0;
    QTest::newRow("negative below half") << -2.6 << 1.0 << -3.0;
    QTest::newRow("negative half at a factor") << -0.125 << 100.0 << -0.12;
    QTest::newRow("negative above half") << -0.124 << 100.0 << -0.12;
    QTest::newRow("zero") << 0.0 << 1000.0 << 0.0;
}

void TestNumberFormat::roundHalfUp()
{
    QFETCH(double, value);
    QFETCH(double, factor);
    QFETCH(double, expected);
    QCOMPARE(RoundHalfUp(value, factor), expected);
}

void TestNumberFormat::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("0.4") << 0.4 << 0.0;
    QTest::newRow("2.51") << 2.51 << 3.0;
    QTest::newRow("-0.5") << -0.5 << 0.0;
    QTest::newRow("-1.5") << -1.5 << -2.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-2.6") << -2.6 << -3.0;
    QTest::newRow("whole") << 12000.0 << 12000.0;
}

void TestNumberFormat::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(aquilevel::config::roundHalfEven(value), expected);
}

QTEST_GUILESS_MAIN(TestNumberFormat)
#include "tst_numberformat.moc"
