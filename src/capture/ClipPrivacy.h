#pragma once

#include "store/ClipFamily.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// How the capture asks the privacy rules about a new clip. The capture calls decide(); the
// privacy rules plug in by overriding the three questions. This base class knows no rules:
// every clip is ordinary.
class ClipPrivacy
{
public:
    enum class Decision { Drop, Secret, Ordinary };

    ClipPrivacy() = default;
    virtual ~ClipPrivacy() = default;

    // The advanced privacy script's answer for a clip (-1 drop, 1 secret, anything else
    // ordinary), or nothing when the advanced mode is off. family is "text", "image" or
    // "file"; extension is "" for text, "data" for images and the file's extension for
    // files; content is the text, "image data" or the file's full path.
    virtual std::optional<int> advancedAnswer(const QString &family, const QString &extension,
                                              const QString &content);
    // The keyword rules for a text.
    virtual bool isSecretText(const QString &text);
    // The switch that makes every file clip secret.
    virtual bool isFileSecret();

    // The advanced answer when there is one; otherwise the keyword rules for texts, the file
    // switch for files, and never secret for images.
    Decision decide(ClipFamily family, const QString &extension, const QString &content);

    Q_DISABLE_COPY_MOVE(ClipPrivacy)
};
