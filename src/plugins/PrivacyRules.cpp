#include "plugins/PrivacyRules.h"

#include "store/ConfigureManager.h"
#include "store/Settings.h"
#include "store/Utils.h"
#include "support/Log.h"

#include <unicode/uregex.h>

#include <memory>

namespace {

// Steps of ICU's match engine (roughly milliseconds) before a match gives up, so a keyword
// that backtracks badly cannot freeze the capture.
constexpr int32_t kMatchTimeLimit = 1000;

struct RegexCloser {
    void operator()(URegularExpression *regex) const { uregex_close(regex); }
};
using Regex = std::unique_ptr<URegularExpression, RegexCloser>;

const UChar *utf16(const QString &text)
{
    static_assert(sizeof(UChar) == sizeof(char16_t));
    return reinterpret_cast<const UChar *>(text.utf16());
}

// The compiled pattern, or none (with the reason logged when asked) when it does not compile.
Regex compile(const QString &pattern, bool logFailure)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    Regex regex(uregex_open(utf16(pattern), static_cast<int32_t>(pattern.size()), UREGEX_CASE_INSENSITIVE,
                            &parseError, &status));
    if (U_FAILURE(status)) {
        // The keyword itself is the user's and may be a secret: only where it fails is logged.
        if (logFailure)
            qCWarning(lcPrivacy) << "a keyword does not compile and is skipped:" << u_errorName(status)
                                 << "at offset" << parseError.offset;
        return nullptr;
    }
    return regex;
}

bool matches(URegularExpression *regex, const QString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    uregex_setTimeLimit(regex, kMatchTimeLimit, &status);
    uregex_setText(regex, utf16(text), static_cast<int32_t>(text.size()), &status);
    const bool found = uregex_find(regex, 0, &status);
    if (U_FAILURE(status)) {
        qCWarning(lcPrivacy) << "keyword match failed:" << u_errorName(status);
        return false;
    }
    return found;
}

} // namespace

namespace PrivacyRules {

bool containsKeyword(const QString &pattern, const QString &text)
{
    if (text.size() > kMaxAnalysedLength)
        return false;
    const Regex regex = compile(pattern, true);
    return regex && matches(regex.get(), text);
}

bool isValidKeyword(const QString &keyword)
{
    return !keyword.isEmpty() && compile(keyword, false) != nullptr;
}

bool containsAnyKeyword(const QStringList &keywords, const QString &text)
{
    if (text.size() > kMaxAnalysedLength)
        return false;
    // Compiled anew for every text, so a changed keyword list counts at the next capture.
    for (const QString &keyword : keywords) {
        if (keyword.isEmpty())
            continue;
        const Regex regex = compile(keyword, true);
        if (regex && matches(regex.get(), text))
            return true;
    }
    return false;
}

bool isSecret(const QString &text, const ConfigureManager &configure)
{
    if (!Settings::analyseSecret())
        return false;
    return containsAnyKeyword(configure.sysKeyWords() + configure.customKeyWords(), text);
}

} // namespace PrivacyRules
