#include "app/PrivacyCapture.h"

#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/Settings.h"
#include "store/Utils.h"

std::optional<int> PrivacyCapture::advancedAnswer(const QString &family, const QString &extension,
                                                  const QString &content)
{
    // The switch is read at every clip, so turning the mode on or off counts at the next copy.
    if (!Settings::advancePrivacy())
        return std::nullopt;
    return m_script.saveOptionFrom(family, extension, content);
}

bool PrivacyCapture::isSecretText(const QString &text)
{
    return PrivacyRules::isSecret(text, m_keywords);
}

bool PrivacyCapture::isFileSecret()
{
    return Settings::fileAsSecret();
}
