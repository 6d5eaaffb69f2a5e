#pragma once

#include <QMenu>

#include <vector>

// A menu of clip items. A clip item carries a submenu of actions, yet clicking it (or pressing
// Return on it) chooses the clip, and while the menu is open the clip's key, with or without
// Control, chooses it too. Choosing closes every open menu before the item's action runs.
class ClipMenu final : public QMenu
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClipMenu)

public:
    explicit ClipMenu(QWidget *parent = nullptr);

    // Marks an action as a clip item reached by key (one of the key equivalents).
    static void setClipKey(QAction *action, const QString &key);
    static QString clipKey(const QAction *action);
    // The action that the key chooses, or none.
    QAction *actionForKey(const QString &key) const;
    // An empty submenu for the clip item at this position. Submenus are made once and reused
    // by every rebuild, since making menus is the dearest part of a rebuild.
    QMenu *actionMenu(qsizetype position);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void choose(QAction *action);

    std::vector<QMenu *> m_actionMenus;
};
