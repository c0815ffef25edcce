#include "tools/TableCsv.h"

#include "config/ExperimentSetup.h"
#include "store/Engine.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <cmath>

namespace aquilevel::tools {

namespace {

ColumnKind kindOf(const QString& name, const QString& declared)
{
    const QString type = declared.toUpper();
    if (type.contains(QStringLiteral("BOOL")))
        return ColumnKind::Boolean;
    if (type == QStringLiteral("DATE"))
        return ColumnKind::Date;
    if (type == QStringLiteral("TIME"))
        return ColumnKind::Time;
    if (type.contains(QStringLiteral("INT")))
        return ColumnKind::Integer;
    if (type.contains(QStringLiteral("REAL")) || type.contains(QStringLiteral("FLOA")) ||
        type.contains(QStringLiteral("DOUB")))
        return ColumnKind::Real;
    if (name.compare(QStringLiteral("Time"), Qt::CaseInsensitive) == 0)
        return ColumnKind::Time;
    return ColumnKind::Text;
}

QString number(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QString::number(value.toLongLong());
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toHex());
    default:
        return value.toString();
    }
}

bool isCommaDecimal(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[+-]?\d*,\d+$)"));
    return pattern.match(text).hasMatch();
}

} // namespace

QList<TableColumn> tableColumns(store::Connection& connection, const QString& table)
{
    // The table's name comes from the program's own list of tables, never from input.
    QString quoted = table;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    const store::Rows rows = connection.select(
        store::Query(QStringLiteral("PRAGMA table_info(\"%1\")").arg(quoted)), false);
    QList<TableColumn> columns;
    for (const QVariantList& row : rows.values) {
        const QString name = row.value(1).toString();
        columns.append({name, kindOf(name, row.value(2).toString())});
    }
    return columns;
}

QString csvText(const QVariant& value, ColumnKind kind)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (kind) {
    case ColumnKind::Boolean:
        return config::isYes(value) ? QStringLiteral("1") : QStringLiteral("0");
    case ColumnKind::Date: {
        const QString text = value.toString();
        const QDate date = QDate::fromString(text.left(10), Qt::ISODate);
        return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : text;
    }
    case ColumnKind::Time: {
        const QString text = value.toString().trimmed();
        QTime time = QTime::fromString(text, QStringLiteral("H:mm:ss"));
        if (!time.isValid())
            time = QTime::fromString(text, QStringLiteral("H:mm:ss AP"));
        return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : text;
    }
    default:
        return number(value);
    }
}

QVariant fromCsvText(const QString& raw, ColumnKind kind, QString& error)
{
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return QVariant(); // Null
    switch (kind) {
    case ColumnKind::Text:
        return raw;
    case ColumnKind::Integer: {
        bool ok = false;
        const qint64 value = text.toLongLong(&ok);
        if (ok)
            return value;
        error = isCommaDecimal(text)
                    ? QStringLiteral("\"%1\" uses a comma as decimal separator; this column takes "
                                     "a whole number").arg(text)
                    : QStringLiteral("\"%1\" is not a whole number").arg(text);
        return {};
    }
    case ColumnKind::Real: {
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (ok && std::isfinite(value))
            return value;
        error = isCommaDecimal(text)
                    ? QStringLiteral("\"%1\" uses a comma as decimal separator; write the number "
                                     "with a point, as %2").arg(text, QString(text).replace(QLatin1Char(','), QLatin1Char('.')))
                    : QStringLiteral("\"%1\" is not a number").arg(text);
        return {};
    }
    case ColumnKind::Boolean: {
        // The usual spellings of spreadsheets and people, in any letter case.
        static const QStringList yes = {QStringLiteral("1"), QStringLiteral("yes"), QStringLiteral("y"),
                                        QStringLiteral("true"), QStringLiteral("wahr"), QStringLiteral("-1")};
        static const QStringList no = {QStringLiteral("0"), QStringLiteral("no"), QStringLiteral("n"),
                                       QStringLiteral("false"), QStringLiteral("falsch")};
        const QString word = text.trimmed().toLower();
        if (yes.contains(word))
            return qint64(1);
        if (no.contains(word))
            return qint64(0);
        error = QStringLiteral("\"%1\" is not a yes/no value; write 1 (or yes, true) for yes and 0 (or no, "
                               "false) for no")
                    .arg(text);
        return {};
    }
    case ColumnKind::Date: {
        const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (date.isValid())
            return date;
        error = QStringLiteral("\"%1\" is not a date written YYYY-MM-DD").arg(text);
        return {};
    }
    case ColumnKind::Time: {
        const QTime time = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
        if (time.isValid())
            return time.toString(QStringLiteral("HH:mm:ss"));
        error = QStringLiteral("\"%1\" is not a time of day written HH:MM:SS").arg(text);
        return {};
    }
    }
    return raw;
}

} // namespace aquilevel::tools
