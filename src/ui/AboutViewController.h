#pragma once

#include <QUrl>
#include <QWidget>

class QPushButton;

// The about pane: the program's name and running version, and a link to its home page.
// The version check of the service joins this pane as the check button's action.
class AboutViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutViewController)

public:
    explicit AboutViewController(QWidget *parent = nullptr);

    // The stored "homepage", or the build's default when none, an empty one or one that is
    // not an http(s) address is stored.
    static QUrl homepage();
    // Opens the home page in the desktop's browser.
    void openHomepage();

    QPushButton *versionLable() const { return m_versionLable; }
    QPushButton *checkUpdate() const { return m_checkUpdate; }

private:
    QPushButton *m_versionLable = nullptr;
    QPushButton *m_homepageButton = nullptr;
    QPushButton *m_checkUpdate = nullptr;
};
