#pragma once

#include <QString>
#include <QStringList>

// Keyword matching of text clips: each keyword (an ICU regular-expression fragment) is matched
// case-insensitively anywhere in the text. Keywords are compiled one by one, so a keyword that
// does not compile is skipped and the others, the system keywords above all, keep working.
class ConfigureManager;

namespace PrivacyRules {

// Longer texts are never analysed.
inline constexpr qsizetype kMaxAnalysedLength = 4096;

// True when the text (at most kMaxAnalysedLength UTF-16 code units) holds at least one match
// of the pattern. A pattern that does not compile, or a match that runs past its time limit,
// finds nothing.
bool containsKeyword(const QString &pattern, const QString &text);

// True when the keyword compiles as a pattern of its own.
bool isValidKeyword(const QString &keyword);

// True when the text (at most kMaxAnalysedLength UTF-16 code units) holds a match of at least
// one of the keywords; keywords that do not compile are skipped.
bool containsAnyKeyword(const QStringList &keywords, const QString &text);

// Keyword analysis of a text clip: true when analysis is on and the text holds one of the
// system or custom keywords.
bool isSecret(const QString &text, const ConfigureManager &keywords);

} // namespace PrivacyRules
