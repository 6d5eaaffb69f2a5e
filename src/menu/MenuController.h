#pragma once

#include "menu/MenuActions.h"
#include "store/HistoryModel.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ClipMenu;
class QAction;
class QMenu;
class SyncEngine;

// The status menu: the newest clips, the favourites submenu and the commands, built from the
// history store and rebuilt whenever it changes, and shown at the pointer. What its items do
// is MenuActions'. The menu is never patched; every change rebuilds it. Main thread only.
class MenuController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MenuController)

public:
    explicit MenuController(SyncEngine &sync, QObject *parent = nullptr);
    ~MenuController() override;

    // What the items do.
    MenuActions &actions() { return m_actions; }

    QMenu *mainMenu() const;
    QMenu *favMenu() const;

    // Rebuilds the main menu (and with it the favourites submenu) from the store.
    QMenu *buildMenu();
    void buildFavouriteMenu();
    // Queues a rebuild on the main thread; several requests before it runs give one rebuild.
    void scheduleBuild();
    // A new action submenu for the clip (the caller owns it), or none for an unknown family.
    // A new sharing submenu for the clip: the services for its family, or one disabled item that
    // says why there is nothing to choose (no service installed, the payload gone).
    QMenu *share(const HistoryModel &clip, QWidget *parent = nullptr);
    // Pops the main menu up at the pointer and returns when it has closed.
    void showMenu();

    // A menu title for a clip's text: on one line (tabs and line breaks as spaces) and, from 26
    // characters on, its first 20 characters and " …"; cut between characters, never inside one.
    static QString reasonablySizedVersionOfString(const QString &text);
    // "1" … "0", "q" … "p", "a" … ";": the keys of the clips at positions 0 to 29.
    static const QStringList &keyEquivalents();

private:
    void addClipItems(ClipMenu *menu, const QList<HistoryModel> &records);
    QAction *addCommand(QMenu *menu, const QString &title, const char *image, void (MenuActions::*action)());
    bool fillSubMenu(QMenu *menu, const HistoryModel &clip);
    void clearMenu(QMenu *menu);

    SyncEngine &m_sync;
    ClipMenu *m_mainMenu = nullptr;
    ClipMenu *m_favMenu = nullptr;
    bool m_buildQueued = false;
    // As of the latest build: whether the lines show their sync state, and the clips whose
    // transfer failed for good.
    bool m_showSyncMarks = false;
    QSet<QString> m_failedTransfers;
    MenuActions m_actions;
};
