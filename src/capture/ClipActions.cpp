#include "capture/ClipActions.h"

#include "platform/KeyInjector.h"
#include "platform/Pasteboard.h"
#include "store/ClipFileManager.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"
#include "support/MainQueue.h"

namespace ClipActions {

bool hasPayloadName(const HistoryModel &clip)
{
    return PathHelper::isPlainFileName(clip.hash());
}

void sendToClipboard(Pasteboard &pasteboard, const HistoryModel &clip, ClipFileManager &files)
{
    switch (clip.family()) {
    case ClipFamily::Text: {
        const std::optional<QString> text = files.getStringWithMd5(clip.hash());
        // An empty string clears the clipboard: nothing is left for the paste to insert.
        pasteboard.writeString(text.value_or(QString()));
        return;
    }
    case ClipFamily::Image: {
        const std::optional<QByteArray> tiff = files.getDataWithMd5(clip.hash());
        if (tiff && !tiff->isEmpty())
            pasteboard.writeImage(*tiff);
        else
            pasteboard.writeString(QString());
        return;
    }
    case ClipFamily::File: {
        const QString link = files.makePreviewLink(clip);
        if (files.isExist(link))
            pasteboard.writeFilePath(link);
        else
            pasteboard.writeString(QString());
        return;
    }
    case ClipFamily::Other:
        break;
    }
    qCDebug(lcCapture) << "nothing to paste for the type" << clip.typeName();
    pasteboard.writeString(QString());
}

QStringList terminalClasses()
{
    if (const std::optional<QStringList> configured = Settings::terminalClasses())
        return *configured;
    // Either part of WM_CLASS of common terminal emulators.
    return {QStringLiteral("gnome-terminal-server"),
            QStringLiteral("gnome-terminal"),
            QStringLiteral("kgx"),
            QStringLiteral("konsole"),
            QStringLiteral("xfce4-terminal"),
            QStringLiteral("mate-terminal"),
            QStringLiteral("lxterminal"),
            QStringLiteral("qterminal"),
            QStringLiteral("terminator"),
            QStringLiteral("tilix"),
            QStringLiteral("alacritty"),
            QStringLiteral("kitty"),
            QStringLiteral("org.wezfurlong.wezterm"),
            QStringLiteral("foot"),
            QStringLiteral("terminology"),
            QStringLiteral("deepin-terminal"),
            QStringLiteral("io.elementary.terminal"),
            QStringLiteral("guake"),
            QStringLiteral("tilda"),
            QStringLiteral("sakura")};
}

void paste(KeyInjector &injector)
{
    // Read at every paste, so an edit of the settings file counts without a restart.
    injector.setTerminalClasses(terminalClasses());
    dispatchMain([&injector] {
        if (!injector.postPasteKeystroke())
            qCInfo(lcCapture) << "the paste keystroke could not be posted";
    });
}

void takeIntoHistory(const HistoryModel &chosen)
{
    if (chosen.categoryName() == Category::history)
        return;
    HistoryModel copy = chosen;
    copy.category = Category::history;
    if (copy.isExist()) {
        copy.fetch();
        copy.favourite = chosen.favourite;
    }
    copy.save();
}

} // namespace ClipActions
