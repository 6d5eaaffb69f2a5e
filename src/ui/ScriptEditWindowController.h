#pragma once

#include <QDialog>

class AdvancePrivacyManager;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The privacy script's editor, a sheet on the settings window. The user writes the Lua
// script, tries it (Test), goes back to the built-in script (Revert), and saves it (Done);
// Done stores only a script that passes its trial, and otherwise keeps the editor open with
// an alert naming the error. The sheet ends with 1 after a save and 0 after Cancel.
class ScriptEditWindowController final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptEditWindowController)

public:
    explicit ScriptEditWindowController(AdvancePrivacyManager &privacy, QWidget *parent = nullptr);

    // Shows the editor as a sheet on its parent's window.
    void beginSheet();

    void testClicked();
    void revertDefault();
    void doneClicked();
    void cancelClicked();

    QPlainTextEdit *textEditView() const { return m_textEditView; }
    QLabel *errorLabelView() const { return m_errorLabelView; }
    QLabel *luaLabel() const { return m_luaLabel; }

private:
    AdvancePrivacyManager &m_privacy;
    QPlainTextEdit *m_textEditView = nullptr;
    QLabel *m_errorLabelView = nullptr;
    QLabel *m_luaLabel = nullptr;
};
