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

ClipPrivacy::Decision ClipPrivacy::decide(const QString &family, const QString &extension,
                                          const QString &content)
{
    if (const std::optional<int> answer = advancedAnswer(family, extension, content)) {
        if (*answer == -1)
            return Decision::Drop;
        return *answer == 1 ? Decision::Secret : Decision::Ordinary;
    }
    bool secret = false;
    if (family == ClipKinds::textFamily)
        secret = isSecretText(content);
    else if (family == ClipKinds::fileFamily)
        secret = isFileSecret();
    return secret ? Decision::Secret : Decision::Ordinary;
}
