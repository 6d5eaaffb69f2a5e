#pragma once

#include <QJsonObject>
#include <QUrl>
#include <QWidget>

class QPushButton;
class SyncEngine;

// The about pane: the program's name and running version, a link to its home page and the
// check for a newer version on the service. The check runs at once when the pane opens while
// a newer version is known.
class AboutViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutViewController)

public:
    explicit AboutViewController(SyncEngine &sync, QWidget *parent = nullptr);

    // The stored "homepage", or the build's default when none, an empty one or one that is
    // not an http(s) address is stored.
    static QUrl homepage();
    // Opens the home page in the desktop's browser.
    void openHomepage();
    // Asks the service for its newest version; the button stays disabled until the reply.
    // A newer version is stored and offered in a sheet, an equal or older one reported as
    // current; a failed request or a refusal shows nothing.
    void check_update();

    QPushButton *versionLabel() const { return m_versionLabel; }
    QPushButton *checkUpdate() const { return m_checkUpdate; }

signals:
    // The service offered a newer version, now stored: the menu's settings item names it.

private:
    SyncEngine &m_sync;
    void showVersionSheet(const QString &offered, const QJsonObject &data);

    QPushButton *m_versionLabel = nullptr;
    QPushButton *m_homepageButton = nullptr;
    QPushButton *m_checkUpdate = nullptr;
};
