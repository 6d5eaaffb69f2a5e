#pragma once

#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

// Colours Lua source: keywords, built-in names, numbers, strings, comments, and long strings
// and long comments ([[ ... ]], [==[ ... ]==]) that span lines.
class LuaHighlighter final : public QSyntaxHighlighter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LuaHighlighter)

public:
    explicit LuaHighlighter(QTextDocument *document);

protected:
    void highlightBlock(const QString &text) override;

private:
    // Block states: -1 or 0 nothing open; otherwise a long bracket of level n is open, as a
    // string (1 + n) or as a comment (1001 + n).
    static constexpr int kLongString = 1;
    static constexpr int kLongComment = 1001;

    int closeLongBracket(const QString &text, int from, int level, const QTextCharFormat &format);

    QRegularExpression m_keywords;
    QRegularExpression m_builtins;
    QRegularExpression m_number;
    QTextCharFormat m_keywordFormat;
    QTextCharFormat m_builtinFormat;
    QTextCharFormat m_numberFormat;
    QTextCharFormat m_stringFormat;
    QTextCharFormat m_commentFormat;
};
