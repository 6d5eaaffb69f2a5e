#include "capture/ClipPrivacy.h"

#include "capture/ClipKinds.h"

std::optional<int> ClipPrivacy::advancedAnswer(const QString &, const QString &, const QString &)
{
    return std::nullopt;
}

bool ClipPrivacy::isSecretText(const QString &)
{
    return false;
}

bool ClipPrivacy::isFileSecret()
{
    return false;
}

ClipPrivacy::Decision ClipPrivacy::decide(ClipFamily family, const QString &extension, const QString &content)
{
    if (const std::optional<int> answer = advancedAnswer(clipFamilyName(family), extension, content)) {
        if (*answer == -1)
            return Decision::Drop;
        return *answer == 1 ? Decision::Secret : Decision::Ordinary;
    }
    bool secret = false;
    switch (family) {
    case ClipFamily::Text:
        secret = isSecretText(content);
        break;
    case ClipFamily::File:
        secret = isFileSecret();
        break;
    case ClipFamily::Image:
    case ClipFamily::Other:
        break;
    }
    return secret ? Decision::Secret : Decision::Ordinary;
}
