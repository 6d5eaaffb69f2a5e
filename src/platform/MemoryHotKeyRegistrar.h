#pragma once

#include "platform/HotKeyRegistrar.h"

#include <utility>
#include <vector>

// Keeps registrations in memory; press() runs the action of a registered combination.
class MemoryHotKeyRegistrar final : public HotKeyRegistrar
{
public:
    bool registerHotKey(const KeyCombination &combination, std::function<void()> action) override
    {
        m_registered.emplace_back(combination, std::move(action));
        return true;
    }
    void unregisterAll() override { m_registered.clear(); }

    std::vector<KeyCombination> registered() const
    {
        std::vector<KeyCombination> result;
        for (const auto &entry : m_registered)
            result.push_back(entry.first);
        return result;
    }
    // True when the combination was registered (and its action ran).
    bool press(const KeyCombination &combination) const
    {
        for (const auto &entry : m_registered) {
            if (entry.first == combination) {
                entry.second();
                return true;
            }
        }
        return false;
    }

private:
    std::vector<std::pair<KeyCombination, std::function<void()>>> m_registered;
};
