#include "plugins/PrivacyRules.h"

#include "store/ConfigureManager.h"
#include "store/Utils.h"
#include "support/Log.h"

#include <unicode/uregex.h>

#include <memory>

namespace {

// Steps of ICU's match engine (roughly milliseconds) before a match gives up, so a keyword
// that backtracks badly cannot freeze the capture.
constexpr int32_t kMatchTimeLimit = 1000;

struct RegexCloser
{
    void operator()(URegularExpression *regex) const { uregex_close(regex); }
};
using Regex = std::unique_ptr<URegularExpression, RegexCloser>;

const UChar *utf16(const QString &text)
{
    static_assert(sizeof(UChar) == sizeof(char16_t));
    return reinterpret_cast<const UChar *>(text.utf16());
}

} // namespace

namespace PrivacyRules {

bool containsKeyword(const QString &pattern, const QString &text)
{
    if (text.size() > kMaxAnalysedLength)
        return false;

    // Compiled anew for every text, so a changed keyword list counts at the next capture.
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const Regex regex(uregex_open(utf16(pattern), static_cast<int32_t>(pattern.size()),
                                  UREGEX_CASE_INSENSITIVE, &parseError, &status));
    if (U_FAILURE(status)) {
        qCWarning(lcPrivacy) << "keyword pattern does not compile:" << u_errorName(status)
                             << "at offset" << parseError.offset;
        return false;
    }
    uregex_setTimeLimit(regex.get(), kMatchTimeLimit, &status);
    uregex_setText(regex.get(), utf16(text), static_cast<int32_t>(text.size()), &status);
    const bool found = uregex_find(regex.get(), 0, &status);
    if (U_FAILURE(status)) {
        qCWarning(lcPrivacy) << "keyword match failed:" << u_errorName(status);
        return false;
    }
    return found;
}

bool isSecret(const QString &text)
{
    if (!Utils::isNeedAnalyseSecert())
        return false;
    // Read anew for every clip, so a change of the keyword lists counts from the next capture.
    return containsKeyword(ConfigureManager::sharedInstance().keyWordsRegPattern(), text);
}

} // namespace PrivacyRules
