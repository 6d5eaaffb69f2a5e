#include "ui/ScriptEditWindowController.h"

#include "plugins/AdvancePrivacyManager.h"
#include "ui/LuaHighlighter.h"
#include "ui/Sheets.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ScriptEditWindowController::ScriptEditWindowController(AdvancePrivacyManager &privacy, QWidget *parent)
    : QDialog(parent)
    , m_privacy(privacy)
    , m_textEditView(new QPlainTextEdit(this))
    , m_errorLabelView(new QLabel(this))
    , m_luaLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("ScriptEditWindowController"));
    setWindowTitle(tr("隐私脚本"));
    resize(640, 480);

    m_textEditView->setObjectName(QStringLiteral("textEditView"));
    m_textEditView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_textEditView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textEditView->setTabStopDistance(m_textEditView->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);
    new LuaHighlighter(m_textEditView->document());
    m_textEditView->setPlainText(m_privacy.scriptContent());

    m_errorLabelView->setObjectName(QStringLiteral("errorLabelView"));
    m_errorLabelView->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_errorLabelView->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_errorLabelView->clear();
    m_luaLabel->setObjectName(QStringLiteral("luaLabel"));
    m_luaLabel->setText(QStringLiteral("lua:%1").arg(privacy.luaVersion()));

    auto *testButton = new QPushButton(tr("测试"), this);
    auto *revertButton = new QPushButton(tr("恢复默认"), this);
    auto *cancelButton = new QPushButton(tr("取消"), this);
    auto *doneButton = new QPushButton(tr("完成"), this);
    testButton->setObjectName(QStringLiteral("testButton"));
    revertButton->setObjectName(QStringLiteral("revertButton"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    doneButton->setObjectName(QStringLiteral("doneButton"));
    // Return belongs to the editor, not to a default button.
    for (QPushButton *button : {testButton, revertButton, cancelButton, doneButton})
        button->setAutoDefault(false);
    connect(testButton, &QPushButton::clicked, this, &ScriptEditWindowController::testClicked);
    connect(revertButton, &QPushButton::clicked, this, &ScriptEditWindowController::revertDefault);
    connect(cancelButton, &QPushButton::clicked, this, &ScriptEditWindowController::cancelClicked);
    connect(doneButton, &QPushButton::clicked, this, &ScriptEditWindowController::doneClicked);

    auto *status = new QHBoxLayout;
    status->addWidget(m_errorLabelView, 1);
    status->addWidget(m_luaLabel);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(testButton);
    buttons->addWidget(revertButton);
    buttons->addStretch();
    buttons->addWidget(cancelButton);
    buttons->addWidget(doneButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_textEditView, 1);
    layout->addLayout(status);
    layout->addLayout(buttons);
}

void ScriptEditWindowController::beginSheet()
{
    setWindowModality(Qt::WindowModal);
    open();
}

void ScriptEditWindowController::testClicked()
{
    const std::optional<QString> error = m_privacy.testScript(m_textEditView->toPlainText());
    m_errorLabelView->setText(error.value_or(QString()));
}

void ScriptEditWindowController::revertDefault()
{
    m_textEditView->setPlainText(AdvancePrivacyManager::defaultScript().value_or(QString()));
}

void ScriptEditWindowController::doneClicked()
{
    AdvancePrivacyManager &privacy = m_privacy;
    const QString script = m_textEditView->toPlainText();
    if (const std::optional<QString> error = privacy.testScript(script)) {
        Sheets::beginSheet(this, {tr("错啦!"),
                                  tr("不能正确运行! 这里有问题:%1\n可以再改改，或者点击取消!").arg(*error),
                                  {tr("我再改改")}});
        return;
    }
    privacy.setScriptContent(script);
    done(1);
}

void ScriptEditWindowController::cancelClicked()
{
    done(0);
}
