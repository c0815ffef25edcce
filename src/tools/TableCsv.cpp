#include "tools/TableCsv.h"

#include "config/ExperimentSetup.h"
#include "store/Tables.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <cmath>

namespace aquilevel::tools {

namespace {

ColumnKind kindOf(const store::ColumnDef& column)
{
    switch (column.type) {
    case store::ColumnType::Flag:
        return ColumnKind::Boolean;
    case store::ColumnType::Date:
        return ColumnKind::Date;
    case store::ColumnType::Time:
        return ColumnKind::Time;
    case store::ColumnType::Integer:
        return ColumnKind::Integer;
    case store::ColumnType::Real:
        return ColumnKind::Real;
    case store::ColumnType::Text:
    case store::ColumnType::CaseText:
    case store::ColumnType::Key:
    case store::ColumnType::Token:
        break;
    }
    // The registration's and the event log's time of day is stored as text.
    if (column.name.compare(QStringLiteral("Time"), Qt::CaseInsensitive) == 0)
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

QList<TableColumn> tableColumns(const QString& table)
{
    QList<TableColumn> columns;
    const store::TableDef* def = store::findTable(table);
    if (!def)
        return columns;
    for (const store::ColumnDef& column : def->shownColumns())
        columns.append({column.name, kindOf(column)});
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
