#pragma once

#include <QStringList>

// Types into the program that has the keyboard focus. The paste keystroke is Control plus the
// key that types "v" in the keyboard layout current at the first paste; that key is looked up
// once and kept, so switching layouts later does not change it. Terminal emulators read
// Control+V as a control character and paste with Control+Shift+V: a window whose class is one
// of the terminal classes gets Shift as well.
class KeyInjector
{
public:
    virtual ~KeyInjector() = default;

    // Posts the paste keystroke; false when nothing could be posted (no display, or no key of
    // the layout types "v", in which case the next call looks again).
    virtual bool postPasteKeystroke() = 0;

    // Window classes (either part of WM_CLASS, compared without regard to case) of the
    // programs that paste with Control+Shift+V.
    void setTerminalClasses(const QStringList &classes) { m_terminalClasses = classes; }
    const QStringList &terminalClasses() const { return m_terminalClasses; }

    // True when one of the names is a terminal class.
    bool isTerminal(const QStringList &windowClass) const
    {
        for (const QString &name : windowClass) {
            if (!name.isEmpty() && m_terminalClasses.contains(name, Qt::CaseInsensitive))
                return true;
        }
        return false;
    }

private:
    QStringList m_terminalClasses;
};
