<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>AboutViewController</name>
    <message>
        <source>访问主页</source>
        <translation>Visit home page</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Check for updates</translation>
    </message>
    <message>
        <source>您当前的版本是最新版</source>
        <translation>You have the newest version</translation>
    </message>
    <message>
        <source>知道了</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>新版本：%1</source>
        <translation>New version: %1</translation>
    </message>
    <message>
        <source>去下载</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>AdvancePrivacyManager</name>
    <message>
        <source>(错误值是 %1 类型，没有文字说明)</source>
        <translation>(the error value is of type %1 and has no text)</translation>
    </message>
    <message>
        <source>无法创建 Lua 运行环境</source>
        <translation>Cannot create a Lua environment</translation>
    </message>
    <message>
        <source>不能为空!</source>
        <translation>Must not be empty!</translation>
    </message>
</context>
<context>
    <name>AppDelegate</name>
    <message>
        <source>同步服务已结束本机的登录（例如密码已在其他设备上修改），同步已停止。本机的历史纪录和收藏都已保留，请在设置的账户页重新登录。</source>
        <translation>The sync service ended this computer&apos;s sign-in (for example, the password was changed on another device), so sync has stopped. The history and favourites on this computer were kept; sign in again in the account pane of the settings.</translation>
    </message>
    <message>
        <source>同步服务上此帐号的存储空间已满：新的内容暂时留在本机，空间够用后会自动继续上传。</source>
        <translation>This account&apos;s storage on the sync service is full: new clips stay on this computer for now and are uploaded once there is room again.</translation>
    </message>
</context>
<context>
    <name>BrokerAddressField</name>
    <message>
        <source>由环境变量 QUILLET_MQTT_HOST 指定</source>
        <translation>Set by the environment variable QUILLET_MQTT_HOST</translation>
    </message>
    <message>
        <source>通知消息服务器的地址，例如 mqtts://sync.example.org:8883；留空则使用同步服务的主机（https 服务用 mqtts 8883 端口）</source>
        <translation>Address of the notice broker, for example mqtts://sync.example.org:8883; leave empty to use the sync service&apos;s host (port 8883 with mqtts for an https service)</translation>
    </message>
    <message>
        <source>消息服务器地址格式存在问题，请输入 mqtt://主机:端口 或 mqtts://主机:端口 形式的地址</source>
        <translation>The broker address is not valid; enter an address of the form mqtt://host:port or mqtts://host:port</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>ClearHistoryFlow</name>
    <message>
        <source>共清空了：%1条</source>
        <translation>Cleared %1 clips</translation>
    </message>
    <message>
        <source>知道了</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>清空失败</source>
        <translation>Clearing failed</translation>
    </message>
    <message>
        <source>清空历史纪录?</source>
        <translation>Clear the history?</translation>
    </message>
    <message>
        <source>点击清空将会删除您的所有历史纪录(除收藏外)</source>
        <translation>Clearing deletes your whole history (favourites excepted)</translation>
    </message>
    <message>
        <source>清空历史纪录</source>
        <translation>Clear history</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>删除中...</source>
        <translation>Deleting...</translation>
    </message>
</context>
<context>
    <name>ClipEditing</name>
    <message>
        <source>图片 </source>
        <translation>Image </translation>
    </message>
</context>
<context>
    <name>DesktopSharing</name>
    <message>
        <source>邮件</source>
        <translation>Mail</translation>
    </message>
    <message>
        <source>用默认程序打开</source>
        <translation>Open with the default program</translation>
    </message>
    <message>
        <source>在文件管理器中显示</source>
        <translation>Show in the file manager</translation>
    </message>
</context>
<context>
    <name>GeneralViewController</name>
    <message>
        <source>登录时启动 Quillet</source>
        <translation>Start Quillet at login</translation>
    </message>
    <message>
        <source>清空历史纪录</source>
        <translation>Clear history</translation>
    </message>
    <message>
        <source>快</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>慢</source>
        <translation>Slow</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>System default</translation>
    </message>
    <message>
        <source>快捷键：</source>
        <translation>Hot key:</translation>
    </message>
    <message>
        <source>启动：</source>
        <translation>Startup:</translation>
    </message>
    <message>
        <source>检测间隔(秒)：</source>
        <translation>Check interval (s):</translation>
    </message>
    <message>
        <source>历史纪录：</source>
        <translation>History:</translation>
    </message>
    <message>
        <source>保留条数：</source>
        <translation>Clips kept:</translation>
    </message>
    <message>
        <source>语言：</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>全部历史：</source>
        <translation>All history:</translation>
    </message>
</context>
<context>
    <name>HistoryDatabase</name>
    <message>
        <source>新的剪贴板内容不会被记录。</source>
        <translation>New clipboard contents will not be recorded.</translation>
    </message>
    <message>
        <source>无法写入数据文件夹 %1。请检查它的权限，然后重新启动 Quillet；在此之前，</source>
        <translation>Cannot write to the data folder %1. Check its permissions, then restart Quillet; until then, </translation>
    </message>
    <message>
        <source>无法读取历史数据库 %1。</source>
        <translation>Cannot read the history database %1. </translation>
    </message>
    <message>
        <source>历史数据库 %1 已损坏，且无法移到一旁。</source>
        <translation>The history database %1 is damaged and cannot be moved aside. </translation>
    </message>
    <message>
        <source>无法更新历史数据库 %1 的结构。</source>
        <translation>Cannot upgrade the layout of the history database %1. </translation>
    </message>
    <message>
        <source>历史数据库已损坏，已移到 %1，并新建了空的历史记录。</source>
        <translation>The history database was damaged; it was moved to %1 and a new, empty history was started.</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>全部历史</source>
        <translation>All history</translation>
    </message>
    <message>
        <source>搜索历史纪录</source>
        <translation>Search the history</translation>
    </message>
    <message>
        <source>&lt;图片&gt;</source>
        <translation>&lt;Image&gt;</translation>
    </message>
    <message>
        <source>[*机密*] </source>
        <translation>[*Secret*] </translation>
    </message>
    <message>
        <source>[文件] </source>
        <translation>[File] </translation>
    </message>
</context>
<context>
    <name>LuaDeadline</name>
    <message>
        <source>脚本运行超时</source>
        <translation>The script ran too long</translation>
    </message>
</context>
<context>
    <name>MenuController</name>
    <message>
        <source>&lt;图片&gt;</source>
        <translation>&lt;Image&gt;</translation>
    </message>
    <message>
        <source>&lt;图片&gt;(大于5M，无法上传)</source>
        <translation>&lt;Image&gt; (over 5 MB, not uploaded)</translation>
    </message>
    <message>
        <source>[*机密*] </source>
        <translation>[*Secret*] </translation>
    </message>
    <message>
        <source>[文件] </source>
        <translation>[File] </translation>
    </message>
    <message>
        <source>未知类型，请更新客户端</source>
        <translation>Unknown type, please update Quillet</translation>
    </message>
    <message>
        <source>历史纪录</source>
        <translation>History</translation>
    </message>
    <message>
        <source>收藏</source>
        <translation>Favourites</translation>
    </message>
    <message>
        <source>同步历史记录</source>
        <translation>Sync history</translation>
    </message>
    <message>
        <source>登录/注册</source>
        <translation>Sign in / Register</translation>
    </message>
    <message>
        <source>插件</source>
        <translation>Plugins</translation>
    </message>
    <message>
        <source>设置 (!新版本 %1)</source>
        <translation>Settings (! new version %1)</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>收藏 (%1个)</source>
        <translation>Favourites (%1)</translation>
    </message>
    <message>
        <source>同步收藏</source>
        <translation>Sync favourites</translation>
    </message>
    <message>
        <source>插件列表</source>
        <translation>Plugins</translation>
    </message>
    <message>
        <source>保存到下载文件夹</source>
        <translation>Save to Downloads</translation>
    </message>
    <message>
        <source>取消收藏</source>
        <translation>Remove from favourites</translation>
    </message>
    <message>
        <source>分享</source>
        <translation>Share</translation>
    </message>
    <message>
        <source>解除机密并上传</source>
        <translation>Unmark secret and upload</translation>
    </message>
    <message>
        <source>解除机密</source>
        <translation>Unmark secret</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>内容已不在本机，无法分享</source>
        <translation>The content is no longer on this computer and cannot be shared</translation>
    </message>
    <message>
        <source>没有安装可用的分享服务</source>
        <translation>No sharing service is installed</translation>
    </message>
    <message>
        <source>全部历史…</source>
        <translation>All history…</translation>
    </message>
    <message>
        <source>同步失败，已停止自动重试</source>
        <translation>Sync failed; no more automatic retries</translation>
    </message>
    <message>
        <source>重试</source>
        <translation>Retry</translation>
    </message>
</context>
<context>
    <name>PluginWindowController</name>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>版本</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>描述</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>作者</source>
        <translation>Author</translation>
    </message>
    <message>
        <source>从文件添加...</source>
        <translation>Add from file...</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>开发插件</source>
        <translation>Develop plugins</translation>
    </message>
    <message>
        <source>入门指南</source>
        <translation>Getting started</translation>
    </message>
    <message>
        <source>插件</source>
        <translation>Plugins</translation>
    </message>
    <message>
        <source>已安装</source>
        <translation>Installed</translation>
    </message>
    <message>
        <source>插件商店</source>
        <translation>Plugin store</translation>
    </message>
    <message>
        <source>添加中...</source>
        <translation>Adding...</translation>
    </message>
    <message>
        <source>完成中...</source>
        <translation>Finishing...</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Choose</translation>
    </message>
</context>
<context>
    <name>PrivacyViewController</name>
    <message>
        <source>自定义关键字</source>
        <translation>Your keywords</translation>
    </message>
    <message>
        <source>系统关键字</source>
        <translation>Built-in keywords</translation>
    </message>
    <message>
        <source>根据关键字识别机密文本</source>
        <translation>Recognise secret texts by keywords</translation>
    </message>
    <message>
        <source>所有文件都作为机密</source>
        <translation>Treat every file as secret</translation>
    </message>
    <message>
        <source>高级隐私模式(lua脚本)</source>
        <translation>Advanced privacy mode (Lua script)</translation>
    </message>
    <message>
        <source>编辑脚本</source>
        <translation>Edit script</translation>
    </message>
    <message>
        <source>新关键字</source>
        <translation>new keyword</translation>
    </message>
    <message>
        <source>超过最大数量</source>
        <translation>Too many keywords</translation>
    </message>
    <message>
        <source>关键字最多可以添加25</source>
        <translation>At most 25 keywords can be added</translation>
    </message>
    <message>
        <source>知道了</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>关键字无效</source>
        <translation>Invalid keyword</translation>
    </message>
    <message>
        <source>“%1”不是有效的匹配规则（例如括号没有配对），没有保存。要匹配括号、点等符号本身，请在符号前加上 \。</source>
        <translation>“%1” is not a valid pattern (for example, a bracket is not closed) and was not saved. To match a bracket, a dot or another such sign itself, put \ before it.</translation>
    </message>
    <message>
        <source>确认开启高级隐私模式?</source>
        <translation>Turn on the advanced privacy mode?</translation>
    </message>
    <message>
        <source>高级隐私模式需要lua编程或有编程基础的用户，开启后简单的关键字识别将不再使用，请谨慎选择.</source>
        <translation>The advanced privacy mode is for users who can program in Lua; once on, the simple keyword recognition is no longer used. Choose with care.</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>开启</source>
        <translation>Turn on</translation>
    </message>
</context>
<context>
    <name>ScriptEditWindowController</name>
    <message>
        <source>隐私脚本</source>
        <translation>Privacy script</translation>
    </message>
    <message>
        <source>测试</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>恢复默认</source>
        <translation>Restore default</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>错啦!</source>
        <translation>Something is wrong!</translation>
    </message>
    <message>
        <source>不能正确运行! 这里有问题:%1
可以再改改，或者点击取消!</source>
        <translation>The script does not run correctly! The problem: %1
Edit it again, or click Cancel!</translation>
    </message>
    <message>
        <source>我再改改</source>
        <translation>Edit again</translation>
    </message>
</context>
<context>
    <name>SettingWindowController</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>常规</source>
        <translation>General</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>Account</translation>
    </message>
    <message>
        <source>隐私</source>
        <translation>Privacy</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
</context>
<context>
    <name>ShortcutRecorder</name>
    <message>
        <source>关闭快捷键</source>
        <translation>Turn the hot key off</translation>
    </message>
    <message>
        <source>请按下快捷键…</source>
        <translation>Press the hot key…</translation>
    </message>
    <message>
        <source>点击录制快捷键</source>
        <translation>Click to record a hot key</translation>
    </message>
</context>
<context>
    <name>StatusBarController</name>
    <message>
        <source>M月d日 HH:mm</source>
        <translation>MMM d HH:mm</translation>
    </message>
    <message>
        <source>：已同步</source>
        <translation>: in sync</translation>
    </message>
    <message>
        <source>：正在同步…</source>
        <translation>: syncing…</translation>
    </message>
    <message>
        <source>：自 %1 起无法连接同步服务，会自动重试</source>
        <translation>: cannot reach the sync service since %1; retrying automatically</translation>
    </message>
    <message>
        <source>：自 %1 起同步服务的存储空间已满，会自动重试</source>
        <translation>: the sync service&apos;s storage is full since %1; retrying automatically</translation>
    </message>
    <message>
        <source>
%1 条内容同步失败，可在其子菜单中重试</source>
        <translation>
%1 clips failed to sync; retry them from their submenus</translation>
    </message>
</context>
<context>
    <name>UserInfoViewController</name>
    <message>
        <source>退出登录</source>
        <translation>Sign out</translation>
    </message>
    <message>
        <source>应用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>当前用户：%1</source>
        <translation>Signed in as %1</translation>
    </message>
    <message>
        <source>消息服务器：</source>
        <translation>Notice broker:</translation>
    </message>
    <message>
        <source>退出登录？</source>
        <translation>Sign out?</translation>
    </message>
    <message>
        <source>退出后本机的历史纪录和收藏将被清空；服务器上的纪录会保留，再次登录后重新同步。</source>
        <translation>Signing out empties the history and favourites on this computer; the records on the server are kept and sync again when you sign in.</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>UserloginViewController</name>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>知道了</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>无法验证服务器的证书</source>
        <translation>Cannot verify the server&apos;s certificate</translation>
    </message>
    <message>
        <source>服务器的证书不受信任。如果这是使用自己 CA 的自建服务，请在“CA 证书”一栏填写该 CA 证书（PEM）文件的路径。</source>
        <translation>The server&apos;s certificate is not trusted. If this is a self-hosted service with its own CA, enter the path of that CA certificate (PEM) file in the “CA certificate” field.</translation>
    </message>
    <message>
        <source>无法连接到同步服务器</source>
        <translation>Cannot reach the sync server</translation>
    </message>
    <message>
        <source>请检查网络连接和“服务器”一栏的地址，然后重试。</source>
        <translation>Check the network connection and the address in the “Server” field, then try again.</translation>
    </message>
    <message>
        <source>尝试次数过多</source>
        <translation>Too many attempts</translation>
    </message>
    <message>
        <source>请稍后再试。</source>
        <translation>Please try again later.</translation>
    </message>
    <message>
        <source>同步服务器暂时无法处理请求</source>
        <translation>The sync server cannot handle the request right now</translation>
    </message>
    <message>
        <source>服务器返回了错误（HTTP %1），请稍后再试。</source>
        <translation>The server returned an error (HTTP %1); please try again later.</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Sign in</translation>
    </message>
    <message>
        <source>注册</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>找回密码</source>
        <translation>Reset password</translation>
    </message>
    <message>
        <source>由环境变量 QUILLET_API_URL 指定</source>
        <translation>Set by the environment variable QUILLET_API_URL</translation>
    </message>
    <message>
        <source>同步服务的地址，例如 https://sync.example.org；留空则使用默认服务</source>
        <translation>Address of the sync service, for example https://sync.example.org; leave empty for the default service</translation>
    </message>
    <message>
        <source>系统证书</source>
        <translation>System certificates</translation>
    </message>
    <message>
        <source>由环境变量 QUILLET_CA_FILE 指定</source>
        <translation>Set by the environment variable QUILLET_CA_FILE</translation>
    </message>
    <message>
        <source>自建服务使用自己的 CA 时，填写该 CA 证书（PEM）文件的路径</source>
        <translation>For a self-hosted service with its own CA, the path of that CA certificate (PEM) file</translation>
    </message>
    <message>
        <source>邮箱</source>
        <translation>E-mail</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>服务器：</source>
        <translation>Server:</translation>
    </message>
    <message>
        <source>消息服务器：</source>
        <translation>Notice broker:</translation>
    </message>
    <message>
        <source>CA 证书：</source>
        <translation>CA certificate:</translation>
    </message>
    <message>
        <source>邮箱：</source>
        <translation>E-mail:</translation>
    </message>
    <message>
        <source>密码：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>点击注册</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>点击登录</source>
        <translation>Sign in</translation>
    </message>
    <message>
        <source>服务器地址格式存在问题，请输入以 http:// 或 https:// 开头的地址</source>
        <translation>The server address is not valid; enter an address that starts with http:// or https://</translation>
    </message>
    <message>
        <source>无法读取 CA 证书文件，请填写 PEM 格式证书文件的路径</source>
        <translation>Cannot read the CA certificate file; enter the path of a certificate file in PEM format</translation>
    </message>
    <message>
        <source>邮箱格式存在问题，请输入正确的邮箱</source>
        <translation>The e-mail address is not valid; enter a correct address</translation>
    </message>
    <message>
        <source>用户名或密码错误</source>
        <translation>Wrong e-mail or password</translation>
    </message>
    <message>
        <source>确认下面邮箱？
%1</source>
        <translation>Is this e-mail address right?
%1</translation>
    </message>
    <message>
        <source>确认邮箱：%1</source>
        <translation>Confirm e-mail: %1</translation>
    </message>
    <message>
        <source>邮箱将用于您找回密码等其他服务，请您务必谨慎填写。</source>
        <translation>The address is used to reset your password and for other services; please enter it with care.</translation>
    </message>
    <message>
        <source>确认注册</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>邮箱：%1已注册，请更换其他邮箱</source>
        <translation>The e-mail address %1 is already registered; please use another one</translation>
    </message>
    <message>
        <source>注册失败</source>
        <translation>Registration failed</translation>
    </message>
    <message>
        <source>该服务器不接受新的注册。</source>
        <translation>This server does not accept new registrations.</translation>
    </message>
    <message>
        <source>服务器没有接受这次注册，请稍后再试。</source>
        <translation>The server did not accept this registration; please try again later.</translation>
    </message>
    <message>
        <source>将向此邮箱发送验证邮件，请确认邮箱是否正确？</source>
        <translation>A verification e-mail will be sent to this address. Is the address right?</translation>
    </message>
    <message>
        <source>发送成功</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>已发送邮件到 %1, 请到邮箱查收，注意：某些邮件服务器会错将Quillet邮件当作垃圾邮件，请注意查看垃圾邮箱。</source>
        <translation>An e-mail was sent to %1; please check your inbox. Some mail servers wrongly take Quillet&apos;s e-mails for spam, so look in the spam folder too.</translation>
    </message>
    <message>
        <source>好的</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>邮箱：%1不存在</source>
        <translation>The e-mail address %1 is not registered</translation>
    </message>
    <message>
        <source>确认密码：</source>
        <translation>Repeat:</translation>
    </message>
    <message>
        <source>再次输入密码</source>
        <translation>Password again</translation>
    </message>
    <message>
        <source>两次输入的密码不一致</source>
        <translation>The two passwords differ</translation>
    </message>
    <message>
        <source>请重新输入密码。</source>
        <translation>Please type the password again.</translation>
    </message>
</context>
</TS>
