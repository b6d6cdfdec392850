#include "common/diagnostics.h"

#include <cstdio>

namespace diagnostics {
namespace {

void write_line(std::FILE *stream, const QString &line)
{
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    // One fwrite per line: the stream's lock keeps the line whole even when
    // another thread writes at the same moment.
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void out(const QString &line)
{
    write_line(stdout, line);
}

void err(const QString &line)
{
    write_line(stderr, line);
}

QString printable(const QString &text, qsizetype max_chars)
{
    QString result;
    const qsizetype shown = qMin(text.size(), max_chars);
    result.reserve(shown + 16);
    for (qsizetype i = 0; i < shown; ++i) {
        const QChar c = text[i];
        if (c == u'\n')
            result += QStringLiteral("\\n");
        else if (c == u'\r')
            result += QStringLiteral("\\r");
        else if (c == u'\t')
            result += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
                 || c == QChar::ParagraphSeparator)
            result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    if (text.size() > shown)
        result += QStringLiteral("… (%1 more characters)").arg(text.size() - shown);
    return result;
}

} // namespace diagnostics
