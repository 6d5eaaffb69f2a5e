#pragma once

#include "ui/SettingsServices.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class ShortcutRecorder;

// The general pane: the global shortcut, start at login, the clipboard's poll interval and
// clearing the history. Every change takes effect and is stored at once.
class GeneralViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GeneralViewController)

public:
    // Where the slider rests when the stored interval is not one of its marks.
    static constexpr int kRestingSliderPosition = 100;

    explicit GeneralViewController(const SettingsServices &services, QWidget *parent = nullptr);

    ShortcutRecorder *shortcutView() const { return m_shortcutView; }
    ShortcutRecorder *historyShortcutView() const { return m_historyShortcutView; }
    QCheckBox *startupButton() const { return m_startupButton; }
    QPushButton *clearButton() const { return m_clearButton; }
    QSlider *speedSlider() const { return m_speedSlider; }
    QLabel *speedLabel() const { return m_speedLabel; }

private:
    SettingsServices m_services;
    void startupChanged(bool on);
    void speedChanged(int position);
    void showSpeed(double seconds);

    ShortcutRecorder *m_shortcutView = nullptr;
    ShortcutRecorder *m_historyShortcutView = nullptr;
    QCheckBox *m_startupButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QSlider *m_speedSlider = nullptr;
    QLabel *m_speedLabel = nullptr;
};
