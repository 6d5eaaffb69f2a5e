#include "ui/GeneralViewController.h"

#include "capture/ShortcutController.h"
#include "platform/NMLoginItems.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "sync/SyncEngine.h"
#include "ui/ClearHistoryFlow.h"
#include "ui/PollInterval.h"
#include "ui/ShortcutRecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString programPath()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace

GeneralViewController::GeneralViewController(const SettingsServices &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services)
    , m_shortcutView(new ShortcutRecorder(this))
    , m_historyShortcutView(new ShortcutRecorder(this))
    , m_startupButton(new QCheckBox(tr("登录时启动 Quillet"), this))
    , m_clearButton(new QPushButton(tr("清空历史纪录"), this))
    , m_speedSlider(new QSlider(Qt::Horizontal, this))
    , m_speedLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("GeneralViewController"));
    m_startupButton->setObjectName(QStringLiteral("startupButton"));
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_speedSlider->setObjectName(QStringLiteral("speedSlider"));
    m_speedLabel->setObjectName(QStringLiteral("speedLabel"));

    // Shortcut: the recorder shows the registered combination; a new one replaces it at
    // once, an emptied recorder switches the hot key off.
    // Without the program's hot-key controller (the pane shown on its own) the recorder
    // shows the stored combination and records nothing.
    // The history window's hot key works the same way.
    const auto bind = [this](ShortcutRecorder *view, ShortcutController *shortcuts,
                             ShortcutController::Role role) {
        if (shortcuts && shortcuts->isStarted()) {
            view->setShortcut(shortcuts->shortcut());
            connect(view, &ShortcutRecorder::shortcutRecorded, this,
                    [shortcuts](const KeyCombination &shortcut) {
                        if (shortcuts->isStarted())
                            shortcuts->setShortcut(shortcut);
                    });
            connect(view, &ShortcutRecorder::shortcutCleared, this, [shortcuts] {
                if (shortcuts->isStarted())
                    shortcuts->shortcutOff();
            });
            return;
        }
        std::optional<KeyCombination> stored;
        if (!ShortcutController::isShortcutOff(role))
            stored =
                ShortcutController::storedShortcut(role).value_or(ShortcutController::defaultShortcut(role));
        view->setShortcut(stored);
        view->setEnabled(false);
    };
    bind(m_shortcutView, m_services.shortcuts, ShortcutController::Role::Menu);
    bind(m_historyShortcutView, m_services.historyShortcuts, ShortcutController::Role::History);

    m_startupButton->setChecked(NMLoginItems::pathInLoginItems(programPath()));
    connect(m_startupButton, &QCheckBox::clicked, this, &GeneralViewController::startupChanged);

    // Poll interval: only the marks are reachable, and the value is taken when the slider is
    // let go (or moved by the keyboard), not at every step of a drag.
    m_speedSlider->setRange(0, PollInterval::kMaxPosition);
    m_speedSlider->setSingleStep(PollInterval::kStep);
    m_speedSlider->setPageStep(PollInterval::kStep);
    m_speedSlider->setTickInterval(PollInterval::kStep);
    m_speedSlider->setTickPosition(QSlider::TicksBelow);
    m_speedSlider->setTracking(false);
    m_speedSlider->setValue(kRestingSliderPosition);
    const double seconds = Settings::pollIntervalSeconds();
    if (const std::optional<int> position = PollInterval::positionForInterval(seconds))
        m_speedSlider->setValue(*position);
    showSpeed(seconds);
    connect(m_speedSlider, &QSlider::valueChanged, this, &GeneralViewController::speedChanged);

    connect(m_clearButton, &QPushButton::clicked, this,
            [this] { ClearHistoryFlow::confirm(this, *m_services.sync); });

    auto *speedRow = new QHBoxLayout;
    speedRow->addWidget(new QLabel(tr("快"), this));
    speedRow->addWidget(m_speedSlider, 1);
    speedRow->addWidget(new QLabel(tr("慢"), this));
    speedRow->addWidget(m_speedLabel);
    m_speedLabel->setMinimumWidth(40);

    // History length: how many clips the history keeps, taken when editing ends.
    auto *lengthBox = new QSpinBox(this);
    lengthBox->setObjectName(QStringLiteral("historyLengthBox"));
    lengthBox->setRange(SettingsDefaults::historyLengthMin, SettingsDefaults::historyLengthMax);
    lengthBox->setSingleStep(10);
    lengthBox->setKeyboardTracking(false);
    lengthBox->setValue(Settings::historyLength());
    connect(lengthBox, &QSpinBox::valueChanged, this,
            [this](int clips) { m_services.sync->settings().setHistoryLength(clips); });

    // Language: the locale's unless chosen here; the names are each in their own language.
    auto *languageBox = new QComboBox(this);
    languageBox->setObjectName(QStringLiteral("languageBox"));
    languageBox->addItem(tr("跟随系统"), int(Settings::Language::System));
    languageBox->addItem(QStringLiteral("中文"), int(Settings::Language::Chinese));
    languageBox->addItem(QStringLiteral("English"), int(Settings::Language::English));
    languageBox->setCurrentIndex(languageBox->findData(int(Settings::language())));
    connect(languageBox, &QComboBox::activated, this, [this, languageBox](int index) {
        m_services.sync->settings().setLanguage(Settings::Language(languageBox->itemData(index).toInt()));
    });

    auto *form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow(tr("快捷键："), m_shortcutView);
    form->addRow(tr("全部历史："), m_historyShortcutView);
    form->addRow(tr("启动："), m_startupButton);
    form->addRow(tr("检测间隔(秒)："), speedRow);
    auto *clearRow = new QHBoxLayout;
    clearRow->addWidget(m_clearButton);
    clearRow->addStretch();
    form->addRow(tr("历史纪录："), clearRow);
    form->addRow(tr("保留条数："), lengthBox);
    form->addRow(tr("语言："), languageBox);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->addLayout(form);
    layout->addStretch();
}

void GeneralViewController::startupChanged(bool on)
{
    if (on)
        NMLoginItems::addPathToLoginItems(programPath(), false);
    else
        NMLoginItems::removePathFromLoginItems(programPath());
}

void GeneralViewController::speedChanged(int position)
{
    const int mark = (position + PollInterval::kStep / 2) / PollInterval::kStep * PollInterval::kStep;
    if (mark != position) {
        // Snaps to the nearest mark; the snap comes back here with the mark's value.
        m_speedSlider->setValue(mark);
        return;
    }
    const double seconds = PollInterval::intervalForPosition(position);
    m_services.sync->settings().setPollIntervalSeconds(seconds);
    showSpeed(seconds);
}

void GeneralViewController::showSpeed(double seconds)
{
    m_speedLabel->setText(QString::number(seconds));
}
