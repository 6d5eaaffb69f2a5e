#include "ui/ShortcutRecorder.h"

#include "ui/KeyCodes.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace {

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta
           || key == Qt::Key_Super_L || key == Qt::Key_Super_R || key == Qt::Key_AltGr;
}

} // namespace

ShortcutRecorder::ShortcutRecorder(QWidget *parent)
    : QWidget(parent)
    , m_field(new QPushButton(this))
    , m_clearButton(new QToolButton(this))
{
    setObjectName(QStringLiteral("shortcutView"));
    m_field->setObjectName(QStringLiteral("shortcutField"));
    m_field->setMinimumWidth(180);
    m_field->installEventFilter(this);
    m_clearButton->setObjectName(QStringLiteral("shortcutClearButton"));
    m_clearButton->setText(QStringLiteral("✕"));
    m_clearButton->setToolTip(tr("关闭快捷键"));
    m_clearButton->setAutoRaise(true);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_field);
    layout->addWidget(m_clearButton);

    connect(m_field, &QPushButton::clicked, this, [this] {
        if (m_recording)
            stopRecording();
        else
            startRecording();
    });
    connect(m_clearButton, &QToolButton::clicked, this, &ShortcutRecorder::clear);
    updateText();
}

void ShortcutRecorder::setShortcut(const std::optional<KeyCombination> &shortcut)
{
    m_shortcut = shortcut;
    updateText();
}

QString ShortcutRecorder::text() const
{
    return m_field->text();
}

bool ShortcutRecorder::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_field || !m_recording)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut) {
        stopRecording();
        return false;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // While recording every key belongs to the recorder, even those of other shortcuts.
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);

    const auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    const Qt::KeyboardModifiers modifiers = keyEvent->modifiers() & ~Qt::KeypadModifier;
    if (isModifierKey(key))
        return true;
    if (key == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        stopRecording();
        return true;
    }
    // A combination without Control, Alt or Super would take a key (a letter, or F5 from every
    // browser) from every program; the hot key never registers one.
    const bool strongModifier = modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const std::optional<unsigned> keyCode = KeyCodes::keyCodeForQtKey(key);
    if (!keyCode || !strongModifier)
        return true;
    m_shortcut = KeyCombination{*keyCode, KeyCodes::modifierFlagsForQt(modifiers)};
    stopRecording();
    emit shortcutRecorded(*m_shortcut);
    return true;
}

void ShortcutRecorder::startRecording()
{
    m_recording = true;
    m_field->setFocus(Qt::OtherFocusReason);
    updateText();
}

void ShortcutRecorder::stopRecording()
{
    m_recording = false;
    updateText();
}

void ShortcutRecorder::clear()
{
    m_recording = false;
    const bool hadShortcut = m_shortcut.has_value();
    m_shortcut.reset();
    updateText();
    if (hadShortcut)
        emit shortcutCleared();
}

void ShortcutRecorder::updateText()
{
    if (m_recording)
        m_field->setText(tr("请按下快捷键…"));
    else if (m_shortcut)
        m_field->setText(KeyCodes::shortcutText(*m_shortcut));
    else
        m_field->setText(tr("点击录制快捷键"));
    m_clearButton->setEnabled(m_shortcut.has_value());
}
