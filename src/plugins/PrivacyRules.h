#pragma once

#include <QString>

// Keyword matching of text clips: the keyword pattern (ICU regular-expression syntax) is
// matched case-insensitively anywhere in the text.
namespace PrivacyRules {

// Longer texts are never analysed.
inline constexpr qsizetype kMaxAnalysedLength = 4096;

// True when the text (at most kMaxAnalysedLength UTF-16 code units) holds at least one match
// of the pattern. A pattern that does not compile, or a match that runs past its time limit,
// finds nothing.
bool containsKeyword(const QString &pattern, const QString &text);

// Keyword analysis of a text clip: true when analysis is on and the text holds one of the
// stored keywords.
bool isSecret(const QString &text);

} // namespace PrivacyRules
