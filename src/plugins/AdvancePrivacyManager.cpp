#include "plugins/AdvancePrivacyManager.h"

#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"
#include "support/LuaDeadline.h"

#include <QCoreApplication>
#include <QFile>

#include <lua.hpp>

#include <cmath>
#include <limits>

// The resource lives in a static library: referencing its initialiser keeps it linked in.
// Q_INIT_RESOURCE has to be used outside any namespace.
static void initPrivacyResource()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(privacy);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

const QString kDefaultScriptPath = QStringLiteral(":/privacy.lua");

lua_State *newState()
{
    lua_State *state = luaL_newstate();
    if (state) {
        luaL_openlibs(state);
        LuaDeadline::reserveHook(state);
    }
    return state;
}

// The message on top of the stack; an error value without a string form (a table raised as
// an error) still gives a text, so a failed trial is never taken for a passed one.
QString errorText(lua_State *state)
{
    if (const char *message = lua_tostring(state, -1)) {
        // The time-out is this program's own message: it speaks the interface's language.
        const char *timeout = LuaDeadline::timeoutMessage();
        return QString::fromUtf8(message).replace(QString::fromUtf8(timeout),
                                                  QCoreApplication::translate("LuaDeadline", timeout));
    }
    return QCoreApplication::translate("AdvancePrivacyManager", "(错误值是 %1 类型，没有文字说明)")
        .arg(QString::fromLatin1(luaL_typename(state, -1)));
}

// Compiles and runs a chunk, named after its own text as luaL_loadstring does, so Lua's
// messages quote its beginning. Leaves the error message on the stack on failure. Other
// globals of earlier texts stay set, but `main` is cleared first: a text that defines no
// `main` of its own must fail its trial rather than pass on an earlier text's function.
bool runChunk(lua_State *state, const QByteArray &chunk)
{
    lua_pushnil(state);
    lua_setglobal(state, "main");
    if (luaL_loadstring(state, chunk.constData()) != LUA_OK)
        return false;
    const LuaDeadline deadline(state);
    return lua_pcall(state, 0, 0, 0) == LUA_OK;
}

// Calls the global `main` with three strings, leaving one result (or the error) on the stack.
// Each string is passed up to its first zero character, as a C string.
bool callMain(lua_State *state, const QString &from, const QString &extension, const QString &content)
{
    lua_getglobal(state, "main");
    lua_pushstring(state, from.toUtf8().constData());
    lua_pushstring(state, extension.toUtf8().constData());
    lua_pushstring(state, content.toUtf8().constData());
    const LuaDeadline deadline(state);
    return lua_pcall(state, 3, 1, 0) == LUA_OK;
}

// The answer as a signed 32-bit integer; a value that is no number (a numeric string counts
// as its number), not finite or outside that range is no answer.
int answerOf(lua_State *state)
{
    int isNumber = 0;
    const lua_Number number = lua_tonumberx(state, -1, &isNumber);
    if (!isNumber || !std::isfinite(number))
        return 0;
    const lua_Number whole = std::trunc(number);
    if (whole < std::numeric_limits<int>::min() || whole > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(whole);
}

} // namespace

void AdvancePrivacyManager::StateCloser::operator()(lua_State *state) const
{
    lua_close(state);
}

AdvancePrivacyManager::AdvancePrivacyManager(Settings &settings)
    : m_settings(settings)
    , m_state(newState())
    , m_testState(newState())
{
    if (!m_state || !m_testState) {
        qCCritical(lcPrivacy) << "cannot create a Lua state for the privacy script";
        return;
    }
    loadScript();
}

AdvancePrivacyManager::~AdvancePrivacyManager() = default;

std::optional<QString> AdvancePrivacyManager::defaultScript()
{
    initPrivacyResource();
    QFile file(kDefaultScriptPath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcPrivacy) << "the built-in privacy script is missing";
        return std::nullopt;
    }
    return QString::fromUtf8(file.readAll());
}

QString AdvancePrivacyManager::scriptContent() const
{
    const std::optional<QString> stored = Settings::privacyScript();
    if (stored)
        return *stored;
    return defaultScript().value_or(QString());
}

void AdvancePrivacyManager::setScriptContent(const QString &script)
{
    m_settings.setPrivacyScript(script);
    loadScript();
}

void AdvancePrivacyManager::loadScript()
{
    const std::lock_guard lock(m_statesMutex);
    if (!m_state)
        return;
    lua_State *state = m_state.get();
    lua_settop(state, 0);
    QString script = scriptContent();
    if (const std::optional<QString> error = testScript(script)) {
        qCWarning(lcPrivacy) << "the stored privacy script fails its trial, the built-in one runs:" << *error;
        script = defaultScript().value_or(QString());
    }
    if (!runChunk(state, script.toUtf8()))
        qCWarning(lcPrivacy) << "privacy script failed to run:" << errorText(state);
    lua_settop(state, 0);
}

std::optional<QString> AdvancePrivacyManager::testScript(const QString &script)
{
    const std::lock_guard lock(m_statesMutex);
    if (!m_testState)
        return QCoreApplication::translate("AdvancePrivacyManager", "无法创建 Lua 运行环境");
    lua_State *state = m_testState.get();
    lua_settop(state, 0);
    if (script.isEmpty())
        return QCoreApplication::translate("AdvancePrivacyManager", "不能为空!");

    std::optional<QString> error;
    // The trial call has an empty extension and content; its answer is not examined.
    if (!runChunk(state, script.toUtf8()) || !callMain(state, QStringLiteral("text"), QString(), QString()))
        error = errorText(state);
    lua_settop(state, 0);
    return error;
}

int AdvancePrivacyManager::saveOptionFrom(const QString &from, const QString &extension,
                                          const QString &content)
{
    const std::lock_guard lock(m_statesMutex);
    if (!m_state)
        return 0;
    lua_State *state = m_state.get();
    lua_settop(state, 0);
    int answer = 0;
    if (callMain(state, from, extension, content))
        answer = answerOf(state);
    else
        qCDebug(lcPrivacy) << "privacy script gave no answer:" << errorText(state);
    lua_settop(state, 0);
    return answer;
}

QString AdvancePrivacyManager::luaVersion() const
{
    const std::lock_guard lock(m_statesMutex);
    if (!m_state)
        return QString();
    return QString::number(static_cast<qint64>(*lua_version(m_state.get())));
}
