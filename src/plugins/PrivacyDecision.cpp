#include "plugins/PrivacyDecision.h"

#include "plugins/AdvancePrivacyManager.h"
#include "store/Utils.h"
#include "support/Log.h"

namespace PrivacyDecision {

PrivacyVerdict decide(const QString &family, const QString &extension, const QString &content)
{
    if (Utils::isAdvancePrivacy()) {
        switch (AdvancePrivacyManager::sharedInstance().saveOptionFrom(family, extension, content)) {
        case 1:
            return PrivacyVerdict::Secret;
        case -1:
            return PrivacyVerdict::Ignore;
        default:
            return PrivacyVerdict::Ordinary;
        }
    }
    if (family == QLatin1String("text"))
        return Utils::isSecret(content) ? PrivacyVerdict::Secret : PrivacyVerdict::Ordinary;
    if (family == QLatin1String("file"))
        return Utils::isFileAsSecert() ? PrivacyVerdict::Secret : PrivacyVerdict::Ordinary;
    if (family != QLatin1String("image"))
        qCWarning(lcPrivacy) << "unknown clip family" << family;
    return PrivacyVerdict::Ordinary;
}

} // namespace PrivacyDecision
