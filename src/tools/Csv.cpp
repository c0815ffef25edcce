#include "tools/Csv.h"

#include <QStringDecoder>

namespace aquilevel::tools::csv {

QString field(const QString& text)
{
    const bool mustQuote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                           text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!mustQuote)
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray record(const QStringList& fields)
{
    QStringList written;
    written.reserve(fields.size());
    for (const QString& f : fields)
        written.append(field(f));
    return (written.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

Document parse(const QByteArray& bytes)
{
    Document document;
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(data);
    if (decoder.hasError()) {
        document.problems.append({1, 1, QStringLiteral("the file is not UTF-8 text")});
        return document;
    }

    int line = 1;
    int pos = 0;
    const int n = text.size();
    // Consumes a line end at pos, if there is one.
    auto atLineEnd = [&](int at) {
        return at < n && (text.at(at) == QLatin1Char('\n') || text.at(at) == QLatin1Char('\r'));
    };
    auto skipLineEnd = [&] {
        if (text.at(pos) == QLatin1Char('\r') && pos + 1 < n && text.at(pos + 1) == QLatin1Char('\n'))
            ++pos;
        ++pos;
        ++line;
    };

    while (pos < n) {
        Record current;
        current.line = line;
        bool anyQuoted = false;
        for (;;) { // one field per round
            const int column = current.fields.size() + 1;
            QString value;
            if (pos < n && text.at(pos) == QLatin1Char('"')) {
                anyQuoted = true;
                const int startLine = line;
                ++pos;
                bool closed = false;
                while (pos < n) {
                    const QChar c = text.at(pos);
                    if (c == QLatin1Char('"')) {
                        if (pos + 1 < n && text.at(pos + 1) == QLatin1Char('"')) {
                            value += QLatin1Char('"');
                            pos += 2;
                            continue;
                        }
                        ++pos;
                        closed = true;
                        break;
                    }
                    if (c == QLatin1Char('\n') ||
                        (c == QLatin1Char('\r') && !(pos + 1 < n && text.at(pos + 1) == QLatin1Char('\n'))))
                        ++line;
                    value += c;
                    ++pos;
                }
                if (!closed) {
                    document.problems.append(
                        {startLine, column, QStringLiteral("a quoted field is not closed before the end of the file")});
                }
                if (pos < n && text.at(pos) != QLatin1Char(',') && !atLineEnd(pos)) {
                    document.problems.append(
                        {line, column, QStringLiteral("text follows the closing quote of a field; "
                                                      "a quote inside a quoted field must be doubled")});
                    while (pos < n && text.at(pos) != QLatin1Char(',') && !atLineEnd(pos))
                        value += text.at(pos++);
                }
            } else {
                const int start = pos;
                while (pos < n && text.at(pos) != QLatin1Char(',') && !atLineEnd(pos))
                    ++pos;
                value = text.mid(start, pos - start);
                if (value.contains(QLatin1Char('"')))
                    document.problems.append(
                        {line, column, QStringLiteral("a quote inside a field that is not enclosed in quotes; "
                                                      "enclose the field in quotes and double the quote")});
            }
            current.fields.append(value);
            if (pos < n && text.at(pos) == QLatin1Char(',')) {
                ++pos;
                continue;
            }
            if (pos < n)
                skipLineEnd();
            break;
        }
        const bool blank = !anyQuoted && current.fields.size() == 1 && current.fields.first().isEmpty();
        if (!blank)
            document.records.append(current);
    }
    return document;
}

} // namespace aquilevel::tools::csv
