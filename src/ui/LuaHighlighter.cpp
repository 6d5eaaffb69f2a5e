#include "ui/LuaHighlighter.h"

namespace {

// The level of a long bracket opening at from ("[[" is 0, "[=[" is 1), or -1.
int openingLevel(const QString &text, int from)
{
    if (from >= text.size() || text.at(from) != QLatin1Char('['))
        return -1;
    int i = from + 1;
    while (i < text.size() && text.at(i) == QLatin1Char('='))
        ++i;
    return i < text.size() && text.at(i) == QLatin1Char('[') ? i - from - 1 : -1;
}

} // namespace

LuaHighlighter::LuaHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document)
    , m_keywords(
          QStringLiteral("\\b(and|break|do|else|elseif|end|false|for|function|goto|if|in|local|nil|not|or|"
                         "repeat|return|then|true|until|while)\\b"))
    , m_builtins(
          QStringLiteral("\\b(assert|error|ipairs|next|pairs|pcall|print|rawget|rawset|require|select|"
                         "setmetatable|getmetatable|tonumber|tostring|type|xpcall|string|table|math|io|os|"
                         "bit32|coroutine|debug|package)\\b"))
    , m_number(QStringLiteral("\\b(0[xX][0-9a-fA-F]+|\\d+\\.?\\d*([eE][-+]?\\d+)?)\\b"))
{
    m_keywordFormat.setForeground(QColor(0xa6, 0x26, 0xa4));
    m_keywordFormat.setFontWeight(QFont::Bold);
    m_builtinFormat.setForeground(QColor(0x40, 0x78, 0xf2));
    m_numberFormat.setForeground(QColor(0x98, 0x68, 0x01));
    m_stringFormat.setForeground(QColor(0x50, 0xa1, 0x4f));
    m_commentFormat.setForeground(QColor(0x8a, 0x8f, 0x98));
    m_commentFormat.setFontItalic(true);
}

int LuaHighlighter::closeLongBracket(const QString &text, int from, int level, const QTextCharFormat &format)
{
    const QString closing = QLatin1Char(']') + QString(level, QLatin1Char('=')) + QLatin1Char(']');
    const int end = int(text.indexOf(closing, from));
    if (end < 0) {
        setFormat(from, int(text.size()) - from, format);
        return -1;
    }
    setFormat(from, end + int(closing.size()) - from, format);
    return end + int(closing.size());
}

void LuaHighlighter::highlightBlock(const QString &text)
{
    // Words first; strings and comments then paint over what lies inside them.
    for (const auto &[expression, format] :
         {std::pair{&m_keywords, &m_keywordFormat}, std::pair{&m_builtins, &m_builtinFormat},
          std::pair{&m_number, &m_numberFormat}}) {
        for (auto it = expression->globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            setFormat(int(match.capturedStart()), int(match.capturedLength()), *format);
        }
    }
    setCurrentBlockState(0);

    int i = 0;
    const int previous = previousBlockState();
    if (previous >= kLongString) {
        const bool comment = previous >= kLongComment;
        const int level = previous - (comment ? kLongComment : kLongString);
        i = closeLongBracket(text, 0, level, comment ? m_commentFormat : m_stringFormat);
        if (i < 0) {
            setCurrentBlockState(previous);
            return;
        }
    }

    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('-') && text.mid(i, 2) == QStringLiteral("--")) {
            const int level = openingLevel(text, i + 2);
            if (level < 0) {
                setFormat(i, int(text.size()) - i, m_commentFormat);
                return;
            }
            setFormat(i, level + 4, m_commentFormat);
            i = closeLongBracket(text, i + level + 4, level, m_commentFormat);
            if (i < 0) {
                setCurrentBlockState(kLongComment + level);
                return;
            }
        } else if (const int level = openingLevel(text, i); level >= 0) {
            setFormat(i, level + 2, m_stringFormat);
            i = closeLongBracket(text, i + level + 2, level, m_stringFormat);
            if (i < 0) {
                setCurrentBlockState(kLongString + level);
                return;
            }
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            int end = i + 1;
            while (end < text.size() && text.at(end) != c)
                end += text.at(end) == QLatin1Char('\\') ? 2 : 1;
            end = std::min(end + 1, int(text.size()));
            setFormat(i, end - i, m_stringFormat);
            i = end;
        } else {
            ++i;
        }
    }
}
