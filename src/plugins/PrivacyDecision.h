#pragma once

#include <QString>

// What the privacy rules make of a clip about to be captured.
enum class PrivacyVerdict {
    Ordinary,
    Secret,
    // Not recorded at all.
    Ignore,
};

namespace PrivacyDecision {

// The decision at capture, by clip family ("text", "image" or "file"). In the advanced mode
// the privacy script answers (1 secret, -1 ignore, anything else ordinary); otherwise a text
// is secret when it holds a keyword, an image never is, and a file is when "fileAsSecert" is
// on. The extension and content are those the script receives: "" and the text, "data" and
// "image data", or the file's extension ("unknow" without one) and its full path.
PrivacyVerdict decide(const QString &family, const QString &extension, const QString &content);

} // namespace PrivacyDecision
