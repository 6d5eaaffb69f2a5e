#pragma once

#include "ui/ScriptEditWindowController.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class AdvancePrivacyManager;
class ConfigureManager;
class QCheckBox;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

// The privacy pane: the user's keywords (up to 25, editable in place) beside the fixed
// system keywords, the switches for keyword analysis, files as secret and the advanced
// mode, and the button that opens the privacy script's editor in advanced mode.
class PrivacyViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PrivacyViewController)

public:
    // Tags of the two tables.
    static constexpr int kCustomTableTag = 1;
    static constexpr int kSystemTableTag = 2;

    PrivacyViewController(AdvancePrivacyManager &privacy, ConfigureManager &keywords,
                          QWidget *parent = nullptr);

    QStringList keyWords() const { return m_keyWords; }
    QStringList sysKeyWords() const { return m_sysKeyWords; }

    QTableWidget *tableView() const { return m_tableView; }
    QTableWidget *sysKeyWordsTableView() const { return m_sysKeyWordsTableView; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *removeButton() const { return m_removeButton; }
    QCheckBox *analyseSecretButton() const { return m_analyseSecretButton; }
    QCheckBox *fileAsSecretButton() const { return m_fileAsSecretButton; }
    QCheckBox *advancePrivacyButton() const { return m_advancePrivacyButton; }
    QPushButton *editScriptButton() const { return m_editScriptButton; }
    // The open script editor, if any.
    ScriptEditWindowController *controllerWindow() const { return m_controllerWindow; }

private:
    AdvancePrivacyManager &m_privacy;
    ConfigureManager &m_keywordStore;
    void addWord();
    void removeWord();
    void wordEdited(QTableWidgetItem *item);
    void advancePrivacyClicked(bool on);
    void editScript();
    void reloadKeyWords();
    static void fillTable(QTableWidget *table, const QStringList &words);

    QStringList m_keyWords;
    QStringList m_sysKeyWords;
    QTableWidget *m_tableView = nullptr;
    QTableWidget *m_sysKeyWordsTableView = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QCheckBox *m_analyseSecretButton = nullptr;
    QCheckBox *m_fileAsSecretButton = nullptr;
    QCheckBox *m_advancePrivacyButton = nullptr;
    QPushButton *m_editScriptButton = nullptr;
    QPointer<ScriptEditWindowController> m_controllerWindow;
};
