#pragma once

#include "plugins/PluginObject.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>

class ClipPluginPackageHelper;
class PluginListRequestManager;
class PluginManager;
class UrlOpener;
class ProgressOverlay;
class QFileDialog;
class QPushButton;
class QTabWidget;
class QTableWidget;

// The plugin window: the installed plugins (add one from a package file, remove one) and the
// store, built from the cached store list, where "添加" installs a plugin. Opening the window
// fetches the store's list, which also updates installed user plugins that the store has in a
// larger version. One window per process. Main thread only.
class PluginWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PluginWindowController)

public:
    enum Tab { InstalledTab = 0, StoreTab = 1 };

    PluginWindowController(ClipPluginPackageHelper &packages, const UrlOpener &urlOpener,
                           QWidget *parent = nullptr);

    // Shows the window in front and fetches the store's list.
    void showWindow();
    void requestRemoteData();
    // Rebuilds the store table from the cached list, leaving out every installed plugin.
    void reloadStoreTableView();
    void reloadInstalledTableView();

    // The add button of a store row.
    void storeAddClicked(int row);
    // Asks for a package file ("选择") and installs it.
    void addClicked();
    // Installs the chosen package files.
    void installFiles(const QStringList &paths);
    void removeClicked();
    void helpClicked();
    void openGettingStarted();

    // The page the help button opens: "developerPage" when it is a web page, else the default.
    static QUrl developerPage();
    // The installed guide, or the one built beside the program; empty when neither exists.
    static QString gettingStartPath();

    QTabWidget *tabView() const { return m_tabView; }
    QTableWidget *tableView() const { return m_tableView; }
    QTableWidget *storeTableView() const { return m_storeTableView; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *removeButton() const { return m_removeButton; }
    QPushButton *helpButton() const { return m_helpButton; }
    QPushButton *gettingStartButton() const { return m_gettingStartButton; }
    QList<PluginObject> storeArray() const { return m_storeArray; }
    QHash<QString, QString> pluginURLDict() const { return m_pluginURLDict; }
    // The open panel while it is shown.
    QFileDialog *openPanel() const;
    ProgressOverlay *overlay() const;

private:
    void windowDidLoad();
    void reloadTables();
    void updateRemoveButton();

    ClipPluginPackageHelper &m_packages;
    PluginManager &m_plugins;
    const UrlOpener &m_urlOpener;
    QTabWidget *m_tabView = nullptr;
    QTableWidget *m_tableView = nullptr;
    QTableWidget *m_storeTableView = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QPushButton *m_helpButton = nullptr;
    QPushButton *m_gettingStartButton = nullptr;
    QList<PluginObject> m_storeArray;
    QHash<QString, QString> m_pluginURLDict;
    QList<PluginObject> m_installed; // the rows of the installed table
    QPointer<QFileDialog> m_openPanel;
    QPointer<ProgressOverlay> m_overlay;
    std::shared_ptr<PluginListRequestManager> m_storeRequestManager;
    bool m_placed = false;
};
