#include "ui/PrivacyViewController.h"

#include "plugins/PrivacyRules.h"
#include "store/ConfigureManager.h"
#include "store/Settings.h"
#include "store/Utils.h"
#include "ui/ScriptEditWindowController.h"
#include "ui/Sheets.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget *makeTable(QWidget *parent, const QString &name, const QString &title, int tag, bool editable)
{
    auto *table = new QTableWidget(0, 1, parent);
    table->setObjectName(name);
    table->setProperty("tag", tag);
    table->setHorizontalHeaderLabels({title});
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                          | QAbstractItemView::SelectedClicked
                                    : QAbstractItemView::NoEditTriggers);
    return table;
}

} // namespace

PrivacyViewController::PrivacyViewController(AdvancePrivacyManager &privacy, ConfigureManager &keywords,
                                             QWidget *parent)
    : QWidget(parent)
    , m_privacy(privacy)
    , m_keywordStore(keywords)
    , m_keyWords(m_keywordStore.customKeyWords())
    , m_sysKeyWords(m_keywordStore.sysKeyWords())
    , m_tableView(makeTable(this, QStringLiteral("tableView"), tr("自定义关键字"), kCustomTableTag, true))
    , m_sysKeyWordsTableView(
          makeTable(this, QStringLiteral("sysKeyWordsTableView"), tr("系统关键字"), kSystemTableTag, false))
    , m_addButton(new QPushButton(QStringLiteral("+"), this))
    , m_removeButton(new QPushButton(QStringLiteral("-"), this))
    , m_analyseSecretButton(new QCheckBox(tr("根据关键字识别机密文本"), this))
    , m_fileAsSecretButton(new QCheckBox(tr("所有文件都作为机密"), this))
    , m_advancePrivacyButton(new QCheckBox(tr("高级隐私模式(lua脚本)"), this))
    , m_editScriptButton(new QPushButton(tr("编辑脚本"), this))
{
    setObjectName(QStringLiteral("PrivacyViewController"));
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_removeButton->setObjectName(QStringLiteral("removeButton"));
    m_analyseSecretButton->setObjectName(QStringLiteral("AnalyseSecretButton"));
    m_fileAsSecretButton->setObjectName(QStringLiteral("FileAsSecretButton"));
    m_advancePrivacyButton->setObjectName(QStringLiteral("advancePrivacyButton"));
    m_editScriptButton->setObjectName(QStringLiteral("editScriptButton"));
    m_addButton->setFixedWidth(32);
    m_removeButton->setFixedWidth(32);

    fillTable(m_tableView, m_keyWords);
    fillTable(m_sysKeyWordsTableView, m_sysKeyWords);
    connect(m_tableView, &QTableWidget::itemChanged, this, &PrivacyViewController::wordEdited);
    connect(m_addButton, &QPushButton::clicked, this, &PrivacyViewController::addWord);
    connect(m_removeButton, &QPushButton::clicked, this, &PrivacyViewController::removeWord);

    // Two-state boxes: a click is always on or off, so each click writes its switch.
    m_analyseSecretButton->setChecked(Settings::analyseSecret());
    m_fileAsSecretButton->setChecked(Settings::fileAsSecret());
    m_advancePrivacyButton->setChecked(Settings::advancePrivacy());
    m_editScriptButton->setVisible(m_advancePrivacyButton->isChecked());
    connect(m_analyseSecretButton, &QCheckBox::clicked, this,
            [this](bool on) { m_keywordStore.settings().setAnalyseSecret(on); });
    connect(m_fileAsSecretButton, &QCheckBox::clicked, this,
            [this](bool on) { m_keywordStore.settings().setFileAsSecret(on); });
    connect(m_advancePrivacyButton, &QCheckBox::clicked, this, &PrivacyViewController::advancePrivacyClicked);
    connect(m_editScriptButton, &QPushButton::clicked, this, &PrivacyViewController::editScript);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch();

    auto *tables = new QGridLayout;
    tables->addWidget(m_tableView, 0, 0);
    tables->addWidget(m_sysKeyWordsTableView, 0, 1);
    tables->addLayout(buttons, 1, 0);

    auto *advanced = new QHBoxLayout;
    advanced->addWidget(m_advancePrivacyButton);
    advanced->addWidget(m_editScriptButton);
    advanced->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->addLayout(tables, 1);
    layout->addWidget(m_analyseSecretButton);
    layout->addWidget(m_fileAsSecretButton);
    layout->addLayout(advanced);
}

void PrivacyViewController::addWord()
{
    ConfigureManager &configure = m_keywordStore;
    if (!configure.addNewWord(tr("新关键字"))) {
        Sheets::beginSheet(this, {tr("超过最大数量"), tr("关键字最多可以添加25"), {tr("知道了")}});
        return;
    }
    reloadKeyWords();
    // The placeholder is already a keyword; the user edits it in place.
    const int row = m_tableView->rowCount() - 1;
    if (row >= 0) {
        m_tableView->setCurrentCell(row, 0);
        m_tableView->editItem(m_tableView->item(row, 0));
    }
}

void PrivacyViewController::removeWord()
{
    const QList<QTableWidgetItem *> selected = m_tableView->selectedItems();
    if (selected.isEmpty())
        return;
    m_keywordStore.removeKeyWordAtIndex(selected.first()->row());
    reloadKeyWords();
}

void PrivacyViewController::wordEdited(QTableWidgetItem *item)
{
    const QString word = item->text();
    // An emptied cell is refused by the keyword list, and a word that is no valid pattern by
    // the pane (with a message); the reload shows the old word again. It waits for the editor
    // to let go of the item, which the reload replaces.
    if (!word.isEmpty() && !PrivacyRules::isValidKeyword(word)) {
        Sheets::beginSheet(this, {tr("关键字无效"),
                                  tr("“%1”不是有效的匹配规则（例如括号没有配对），没有保存。"
                                     "要匹配括号、点等符号本身，请在符号前加上 \\。")
                                      .arg(word),
                                  {tr("知道了")}});
    } else {
        m_keywordStore.setKeyWord(word, item->row());
    }
    QMetaObject::invokeMethod(this, &PrivacyViewController::reloadKeyWords, Qt::QueuedConnection);
}

void PrivacyViewController::advancePrivacyClicked(bool on)
{
    if (!on) {
        m_keywordStore.settings().setAdvancePrivacy(false);
        m_editScriptButton->setVisible(false);
        return;
    }
    const Sheets::Alert alert{
        tr("确认开启高级隐私模式?"),
        tr("高级隐私模式需要lua编程或有编程基础的用户，开启后简单的关键字识别将不再使用，请谨慎选择."),
        {tr("取消"), tr("开启")},
        0};
    Sheets::beginSheet(this, alert, [this](int returnCode) {
        const bool enable = returnCode != Sheets::FirstButtonReturn;
        m_keywordStore.settings().setAdvancePrivacy(enable);
        m_advancePrivacyButton->setChecked(enable);
        m_editScriptButton->setVisible(m_advancePrivacyButton->isChecked());
    });
}

void PrivacyViewController::editScript()
{
    if (m_controllerWindow)
        return;
    // A sheet on the settings window, released when it ends whatever its outcome (also when
    // this pane has been replaced meanwhile).
    m_controllerWindow = new ScriptEditWindowController(m_privacy, window());
    connect(m_controllerWindow, &QDialog::finished, m_controllerWindow, &QObject::deleteLater);
    m_controllerWindow->beginSheet();
}

void PrivacyViewController::reloadKeyWords()
{
    m_keyWords = m_keywordStore.customKeyWords();
    fillTable(m_tableView, m_keyWords);
}

void PrivacyViewController::fillTable(QTableWidget *table, const QStringList &words)
{
    const QSignalBlocker blocker(table);
    table->setRowCount(int(words.size()));
    for (int row = 0; row < words.size(); ++row)
        table->setItem(row, 0, new QTableWidgetItem(words.at(row)));
}
