#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

struct lua_State;
class Settings;

// Runs the user's privacy script (Lua 5.2) that decides, for every captured clip, whether it
// is secret (1), to be ignored (-1) or ordinary (anything else). The script's global `main`
// takes three strings: the clip family ("text", "image", "file"), an extension and the
// content. A new text is first tried in a state of its own; the live state then runs it, or
// the built-in script when the trial fails. Both states live as long as the manager, so
// globals set by an earlier script stay set. Every script run has a deadline. Safe on any
// thread: the capture asks it on its worker while the settings window edits the script.
class AdvancePrivacyManager final
{
    Q_DISABLE_COPY_MOVE(AdvancePrivacyManager)

public:
    // Creates both states and loads the stored script; a new script is stored through settings.
    explicit AdvancePrivacyManager(Settings &settings);
    ~AdvancePrivacyManager();

    // The built-in script (resource "privacy"), none when the resource is missing.
    static std::optional<QString> defaultScript();

    // The stored script, or the built-in one when none is stored.
    QString scriptContent() const;
    // Stores the text under "privacy_script" and loads it into the live state.
    void setScriptContent(const QString &script);
    // Runs the stored script in the live state, or the built-in one when the stored text
    // fails its trial (the stored text is left as it is).
    void loadScript();

    // Trial run: none when the text runs and its `main` answers ("text", "", ""), else
    // Lua's error text ("不能为空!" for an empty text).
    std::optional<QString> testScript(const QString &script);

    // The script's answer for one clip; 0 when `main` fails, runs too long or answers
    // something that is not a number within the 32-bit range.
    int saveOptionFrom(const QString &from, const QString &extension, const QString &content);

    // The version number of the live state, "502" for Lua 5.2.
    QString luaVersion() const;

private:
    struct StateCloser {
        void operator()(lua_State *state) const;
    };
    using State = std::unique_ptr<lua_State, StateCloser>;

    // Held for every use of either state; recursive because loading tries the text first.
    Settings &m_settings;
    mutable std::recursive_mutex m_statesMutex;
    State m_state;
    State m_testState;
};
