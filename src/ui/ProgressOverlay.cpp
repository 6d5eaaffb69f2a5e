#include "ui/ProgressOverlay.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

ProgressOverlay *ProgressOverlay::showOn(QWidget *host, const QString &text)
{
    auto *overlay = new ProgressOverlay(host->window());
    overlay->setText(text);
    overlay->show();
    overlay->raise();
    overlay->setFocus();
    return overlay;
}

ProgressOverlay::ProgressOverlay(QWidget *window)
    : QWidget(window)
    , m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("progressOverlay"));
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(window->rect());
    window->installEventFilter(this);

    auto *spinner = new QProgressBar(this);
    spinner->setRange(0, 0); // busy, no known end
    spinner->setTextVisible(false);
    spinner->setFixedWidth(160);

    m_label->setAlignment(Qt::AlignCenter);
    m_label->setStyleSheet(QStringLiteral("color: white; font-weight: bold;"));

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    layout->addWidget(m_label, 0, Qt::AlignHCenter);
    layout->addStretch();
}

void ProgressOverlay::setText(const QString &text)
{
    m_label->setText(text);
}

QString ProgressOverlay::text() const
{
    return m_label->text();
}

void ProgressOverlay::dismiss()
{
    hide();
    deleteLater();
}

bool ProgressOverlay::eventFilter(QObject *watched, QEvent *event)
{
    // Follows the window's size so that it keeps covering all of it.
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void ProgressOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 140));
}
