#include "ui/HistoryWindow.h"

#include "store/ClipFamily.h"
#include "store/HistorySearch.h"
#include "ui/WindowRaising.h"

#include <QDateTime>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QVBoxLayout>

namespace {

constexpr int kTitleLength = 200;
constexpr int kRecordRole = Qt::UserRole;

QIcon thumbnail(const QString &base64Jpeg)
{
    const QImage image = QImage::fromData(QByteArray::fromBase64(base64Jpeg.toLatin1()), "JPEG");
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// One line of the clip's text, cut to what a row shows.
QString oneLine(const QString &text)
{
    const QString line = text.simplified();
    return line.size() > kTitleLength ? line.left(kTitleLength) + QStringLiteral(" …") : line;
}

} // namespace

HistoryWindow::HistoryWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_search(new QLineEdit(this))
    , m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(tr("全部历史"));
    resize(560, 520);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setPlaceholderText(tr("搜索历史纪录"));
    m_search->setClearButtonEnabled(true);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setIconSize(QSize(48, 40));
    m_list->setUniformItemSizes(false);
    m_list->setAlternatingRowColors(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);

    connect(m_search, &QLineEdit::textChanged, this, &HistoryWindow::refresh);
    connect(m_search, &QLineEdit::returnPressed, this, &HistoryWindow::chooseCurrent);
    connect(m_list, &QListWidget::itemActivated, this, &HistoryWindow::chooseCurrent);
    m_search->installEventFilter(this);
    m_list->installEventFilter(this);

    closeOnEscapeAndControlW(*this);
}

void HistoryWindow::showWindow()
{
    m_search->clear();
    refresh();
    showInFront(*this, m_placed);
    m_search->setFocus();
}

void HistoryWindow::refresh()
{
    const int row = std::max(0, m_list->currentRow());
    m_list->clear();
    for (const HistoryModel &clip : HistorySearch::find(m_search->text())) {
        if (!clip.content)
            continue;
        QString title;
        QIcon icon;
        switch (clip.family()) {
        case ClipFamily::Image:
            title = tr("<图片>");
            icon = thumbnail(*clip.content);
            break;
        case ClipFamily::Text:
            title = clip.isSecret() ? tr("[*机密*] ") + oneLine(*clip.content) : oneLine(*clip.content);
            break;
        case ClipFamily::File:
            title = tr("[文件] ") + oneLine(*clip.content);
            break;
        case ClipFamily::Other:
            continue;
        }
        if (clip.isFavourite())
            title = QStringLiteral("★ ") + title;
        auto *item = new QListWidgetItem(icon, title, m_list);
        item->setData(kRecordRole, QVariant::fromValue(clip));
        if (clip.timestamp)
            item->setToolTip(QDateTime::fromSecsSinceEpoch(qint64(*clip.timestamp)).toString(Qt::TextDate));
    }
    if (m_list->count() > 0)
        m_list->setCurrentRow(std::min(row, m_list->count() - 1));
}

bool HistoryWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Up:
        moveCurrent(-1);
        return true;
    case Qt::Key_Down:
        moveCurrent(1);
        return true;
    case Qt::Key_PageUp:
        moveCurrent(-10);
        return true;
    case Qt::Key_PageDown:
        moveCurrent(10);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        chooseCurrent();
        return true;
    case Qt::Key_Delete:
        // In the search field Delete edits the text while there is text after the cursor.
        if (watched == m_search && m_search->cursorPosition() < m_search->text().size())
            break;
        removeCurrent();
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryWindow::moveCurrent(int steps)
{
    if (m_list->count() == 0)
        return;
    m_list->setCurrentRow(std::clamp(m_list->currentRow() + steps, 0, m_list->count() - 1));
}

void HistoryWindow::chooseCurrent()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    const auto clip = item->data(kRecordRole).value<HistoryModel>();
    hide();
    emit chosen(clip);
}

void HistoryWindow::removeCurrent()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    const auto clip = m_list->item(row)->data(kRecordRole).value<HistoryModel>();
    delete m_list->takeItem(row);
    if (m_list->count() > 0)
        m_list->setCurrentRow(std::min(row, m_list->count() - 1));
    emit removeRequested(clip);
}
