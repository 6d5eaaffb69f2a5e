#pragma once

#include "platform/KeyInjector.h"

// Counts paste keystrokes instead of posting them, for tests of the logic above the display.
class MemoryKeyInjector final : public KeyInjector
{
public:
    bool postPasteKeystroke() override
    {
        ++m_pasteCount;
        return m_succeeds;
    }

    int pasteCount() const { return m_pasteCount; }
    void setSucceeds(bool succeeds) { m_succeeds = succeeds; }

private:
    int m_pasteCount = 0;
    bool m_succeeds = true;
};
