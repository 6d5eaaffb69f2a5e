#include "menu/ClipMenu.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

const char kClipKeyProperty[] = "quilletClipKey";

// The key equivalent a key press names: digits, lower-case letters and ";".
QString keyName(const QKeyEvent *event)
{
    const int key = event->key();
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return QString(QChar(u'0' + (key - Qt::Key_0)));
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QString(QChar(u'a' + (key - Qt::Key_A)));
    if (key == Qt::Key_Semicolon)
        return QStringLiteral(";");
    return {};
}

bool isClipItem(const QAction *action)
{
    return action && !ClipMenu::clipKey(action).isEmpty();
}

} // namespace

ClipMenu::ClipMenu(QWidget *parent)
    : QMenu(parent)
{
    setToolTipsVisible(true);
}

void ClipMenu::setClipKey(QAction *action, const QString &key)
{
    action->setProperty(kClipKeyProperty, key);
}

QString ClipMenu::clipKey(const QAction *action)
{
    return action->property(kClipKeyProperty).toString();
}

QAction *ClipMenu::actionForKey(const QString &key) const
{
    if (key.isEmpty())
        return nullptr;
    const QList<QAction *> items = actions();
    for (QAction *action : items) {
        if (clipKey(action) == key && action->isEnabled())
            return action;
    }
    return nullptr;
}

QMenu *ClipMenu::actionMenu(qsizetype position)
{
    while (static_cast<qsizetype>(m_actionMenus.size()) <= position) {
        auto *menu = new QMenu(this);
        menu->setToolTipsVisible(true);
        m_actionMenus.push_back(menu);
    }
    QMenu *menu = m_actionMenus[static_cast<size_t>(position)];
    menu->clear();
    // The sharing submenu of the previous clip goes with it.
    const QList<QMenu *> nested = menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly);
    for (QMenu *child : nested)
        child->deleteLater();
    return menu;
}

void ClipMenu::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier) {
        if (QAction *action = actionForKey(keyName(event))) {
            choose(action);
            return;
        }
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && isClipItem(activeAction()) && activeAction()->isEnabled()) {
        choose(activeAction());
        return;
    }
    QMenu::keyPressEvent(event);
}

void ClipMenu::mouseReleaseEvent(QMouseEvent *event)
{
    QAction *action = actionAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && isClipItem(action) && action->isEnabled()) {
        choose(action);
        return;
    }
    QMenu::mouseReleaseEvent(event);
}

void ClipMenu::choose(QAction *action)
{
    // The paste that follows must reach the program the user was typing in, so no menu may
    // keep the keyboard. Each close removes one popup; the bound guards against a popup that
    // refuses to close.
    for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    close();
    action->trigger();
}
