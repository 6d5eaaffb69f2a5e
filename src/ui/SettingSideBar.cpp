#include "ui/SettingSideBar.h"

#include "ui/SettingImages.h"

#include <QButtonGroup>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 96;
constexpr int kMarker = 8;
const QColor kBackground(0x2b, 0x30, 0x38);

} // namespace

SettingSideBar::SettingSideBar(QWidget *parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("SettingSideBar"));
    setFixedWidth(kWidth);
    setAutoFillBackground(false);
    m_group->setExclusive(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 12);
    layout->setSpacing(4);
    layout->addStretch();
    connect(m_group, &QButtonGroup::idClicked, this, [this](int row) {
        update();
        emit rowSelected(row);
    });
}

void SettingSideBar::addButton(const QString &title, const QString &image, const QString &alternateImage)
{
    auto *button = new QToolButton(this);
    button->setObjectName(QStringLiteral("sideBarButton%1").arg(m_buttons.size()));
    button->setText(title);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(32, 32));
    button->setFixedSize(kWidth - kMarker, 64);
    button->setFocusPolicy(Qt::TabFocus);
    QIcon icon;
    icon.addPixmap(settingImage(alternateImage), QIcon::Normal, QIcon::Off);
    icon.addPixmap(settingImage(image), QIcon::Normal, QIcon::On);
    button->setIcon(icon);
    button->setStyleSheet(QStringLiteral("QToolButton { color: #9aa0a8; border: none; }"
                                         "QToolButton:checked { color: white; font-weight: bold; }"));
    m_group->addButton(button, int(m_buttons.size()));
    m_buttons.append(button);
    auto *layout = static_cast<QVBoxLayout *>(this->layout());
    layout->insertWidget(layout->count() - 1, button, 0, Qt::AlignLeft);
}

QToolButton *SettingSideBar::button(int row) const
{
    return row >= 0 && row < m_buttons.size() ? m_buttons.at(row) : nullptr;
}

int SettingSideBar::selectedRow() const
{
    return m_group->checkedId();
}

void SettingSideBar::selectRow(int row)
{
    if (QToolButton *selected = button(row)) {
        selected->setChecked(true);
        update();
    }
}

void SettingSideBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QToolButton *selected = button(selectedRow());
    if (!selected)
        return;
    // The marker: a triangle at the sidebar's edge, pointing at the pane of the selected row.
    const int middle = selected->geometry().center().y();
    QPainterPath triangle;
    triangle.moveTo(width(), middle - kMarker);
    triangle.lineTo(width() - kMarker, middle);
    triangle.lineTo(width(), middle + kMarker);
    triangle.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(triangle, palette().color(QPalette::Window));
}
