#pragma once

#include "capture/ClipPrivacy.h"

class AdvancePrivacyManager;
class ConfigureManager;

// The privacy rules as the capture asks them: in the advanced mode the privacy script answers
// for every clip; otherwise the keyword analysis judges texts and "fileAsSecert" files.
class PrivacyCapture final : public ClipPrivacy
{
public:
    PrivacyCapture(AdvancePrivacyManager &script, const ConfigureManager &keywords)
        : m_script(script)
        , m_keywords(keywords)
    { }

    std::optional<int> advancedAnswer(const QString &family, const QString &extension,
                                      const QString &content) override;
    bool isSecretText(const QString &text) override;
    bool isFileSecret() override;

private:
    AdvancePrivacyManager &m_script;
    const ConfigureManager &m_keywords;
};
