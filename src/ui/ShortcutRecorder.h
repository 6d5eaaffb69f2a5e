#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QWidget>

#include <optional>

class QPushButton;
class QToolButton;

// Records a key combination for the global shortcut. Clicking the field starts recording;
// the next key pressed with Control, Alt or Super becomes the combination (a key without one
// of them, a function key included, is not recorded); Escape ends recording without a
// change. The clear button empties the field, which switches the shortcut off.
class ShortcutRecorder final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShortcutRecorder)

public:
    explicit ShortcutRecorder(QWidget *parent = nullptr);

    std::optional<KeyCombination> shortcut() const { return m_shortcut; }
    // Shows a combination (or an empty field) without announcing it.
    void setShortcut(const std::optional<KeyCombination> &shortcut);
    bool isRecording() const { return m_recording; }
    QString text() const;

signals:
    void shortcutRecorded(const KeyCombination &shortcut);
    void shortcutCleared();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startRecording();
    void stopRecording();
    void clear();
    void updateText();

    QPushButton *m_field = nullptr;
    QToolButton *m_clearButton = nullptr;
    std::optional<KeyCombination> m_shortcut;
    bool m_recording = false;
};
