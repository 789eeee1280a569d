<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>DefaultServices</name>
    <message>
        <source>所有音乐</source>
        <translation>All music</translation>
    </message>
    <message>
        <source>添加歌曲</source>
        <translation>Add Songs</translation>
    </message>
    <message>
        <source>所有文件</source>
        <translation>All files</translation>
    </message>
</context>
<context>
    <name>DlrcButton</name>
    <message>
        <source>向后0.5秒</source>
        <translation>0.5 s later</translation>
    </message>
    <message>
        <source>向前0.5秒</source>
        <translation>0.5 s earlier</translation>
    </message>
    <message>
        <source>卡拉OK效果</source>
        <translation>Karaoke effect</translation>
    </message>
    <message>
        <source>手动搜索歌词</source>
        <translation>Search Lyrics</translation>
    </message>
    <message>
        <source>关闭歌词</source>
        <translation>Hide Lyrics</translation>
    </message>
</context>
<context>
    <name>Glossary</name>
    <message>
        <source>添加文件夹</source>
        <translation type="vanished">Add Folder</translation>
    </message>
    <message>
        <source>所有文件</source>
        <translation type="vanished">All files</translation>
    </message>
    <message>
        <source>保存</source>
        <translation type="vanished">Save</translation>
    </message>
    <message>
        <source>返回</source>
        <translation type="vanished">Back</translation>
    </message>
    <message>
        <source>播放模式：</source>
        <translation type="vanished">Play mode:</translation>
    </message>
    <message>
        <source>普通</source>
        <translation type="vanished">Normal</translation>
    </message>
    <message>
        <source>循环</source>
        <translation type="vanished">Loop</translation>
    </message>
    <message>
        <source>单曲循环</source>
        <translation type="vanished">Repeat One</translation>
    </message>
    <message>
        <source>音效模式：</source>
        <translation type="vanished">Sound effect:</translation>
    </message>
    <message>
        <source>开机自动运行</source>
        <translation type="vanished">Start with the desktop</translation>
    </message>
    <message>
        <source>启动Tallo音乐</source>
        <translation type="vanished">Start Tallo Music</translation>
    </message>
    <message>
        <source>显示歌词</source>
        <translation type="vanished">Show Lyrics</translation>
    </message>
    <message>
        <source>在线歌词</source>
        <translation type="vanished">Online lyrics</translation>
    </message>
    <message>
        <source>歌词缓存路径</source>
        <translation type="vanished">Lyric folder</translation>
    </message>
    <message>
        <source>歌曲缓存路径</source>
        <translation type="vanished">Song cache folder</translation>
    </message>
    <message>
        <source>选择歌词存放目录</source>
        <translation type="vanished">Choose the folder for lyrics</translation>
    </message>
    <message>
        <source>选择歌曲缓存目录</source>
        <translation type="vanished">Choose the folder for cached songs</translation>
    </message>
    <message>
        <source>音量</source>
        <translation type="vanished">Volume</translation>
    </message>
    <message>
        <source>静音</source>
        <translation type="vanished">Mute</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation type="vanished">Minimise</translation>
    </message>
    <message>
        <source>歌词搜索</source>
        <translation type="vanished">Lyric Search</translation>
    </message>
    <message>
        <source>歌曲名：</source>
        <translation type="vanished">Title:</translation>
    </message>
    <message>
        <source>歌手：</source>
        <translation type="vanished">Singer:</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation type="vanished">Search</translation>
    </message>
    <message>
        <source>停止</source>
        <translation type="vanished">Stop</translation>
    </message>
    <message>
        <source>下载歌词</source>
        <translation type="vanished">Download Lyrics</translation>
    </message>
    <message>
        <source>停止下载</source>
        <translation type="vanished">Stop Download</translation>
    </message>
    <message>
        <source>向前0.5秒</source>
        <translation type="vanished">0.5 s earlier</translation>
    </message>
    <message>
        <source>向后0.5秒</source>
        <translation type="vanished">0.5 s later</translation>
    </message>
    <message>
        <source>手动搜索歌词</source>
        <translation type="vanished">Search Lyrics</translation>
    </message>
    <message>
        <source>关闭歌词</source>
        <translation type="vanished">Hide Lyrics</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation type="vanished">Pause</translation>
    </message>
    <message>
        <source>还原</source>
        <translation type="vanished">Restore</translation>
    </message>
    <message>
        <source>Orvane 意外退出</source>
        <translation type="vanished">Orvane quit unexpectedly</translation>
    </message>
</context>
<context>
    <name>LyricSearch</name>
    <message>
        <source>歌曲名：</source>
        <translation>Title:</translation>
    </message>
    <message>
        <source>歌手：</source>
        <translation>Singer:</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>上一曲</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>下一曲</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>菜单</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>音乐魔方</source>
        <translation>Music Cube</translation>
    </message>
    <message>
        <source>我的音乐列表</source>
        <translation>My Music</translation>
    </message>
    <message>
        <source>随便听听</source>
        <translation>Random</translation>
    </message>
    <message>
        <source>换歌</source>
        <translation>Other songs</translation>
    </message>
    <message>
        <source>歌曲列表里面没有歌曲，赶快添加歌曲开始不一样的音乐体验！
</source>
        <translation>There are no songs in the list yet. Add some and start a different music experience!
</translation>
    </message>
    <message>
        <source>添加歌曲</source>
        <translation>Add Songs</translation>
    </message>
    <message>
        <source>连接音乐服务器…</source>
        <translation>Connect to a music server…</translation>
    </message>
    <message>
        <source>添加文件夹</source>
        <translation>Add Folder</translation>
    </message>
</context>
<context>
    <name>MiniTile</name>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
</context>
<context>
    <name>MsgPop</name>
    <message>
        <source>Yes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
    </message>
</context>
<context>
    <name>MusicServer</name>
    <message>
        <source>连接音乐服务器</source>
        <translation>Connect to a music server</translation>
    </message>
    <message>
        <source>地址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>用户名：</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>密码：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>测试连接</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>记录播放次数</source>
        <translation>Count my plays</translation>
    </message>
</context>
<context>
    <name>SettingsPage</name>
    <message>
        <source>播放模式：</source>
        <translation>Play mode:</translation>
    </message>
    <message>
        <source>普通</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>循环</source>
        <translation>Loop</translation>
    </message>
    <message>
        <source>单曲循环</source>
        <translation>Repeat One</translation>
    </message>
    <message>
        <source>音效模式：</source>
        <translation>Sound effect:</translation>
    </message>
    <message>
        <source>歌词缓存路径</source>
        <translation>Lyric folder</translation>
    </message>
    <message>
        <source>歌曲缓存路径</source>
        <translation>Song cache</translation>
    </message>
    <message>
        <source>显示歌词</source>
        <translation>Show Lyrics</translation>
    </message>
    <message>
        <source>启动Tallo音乐</source>
        <translation>Start Tallo Music</translation>
    </message>
    <message>
        <source>开机自动运行</source>
        <translation>Start at login</translation>
    </message>
    <message>
        <source>在线歌词</source>
        <translation>Online lyrics</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
</context>
<context>
    <name>orvane::app::TNimMain</name>
    <message>
        <source>设置文件</source>
        <translation>The settings file</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>%1 等 %2 项</source>
        <translation>%1 and others (%2 in all)</translation>
    </message>
    <message>
        <source>插件没有加载，因为其他用户可以修改它们：%1</source>
        <translation>Plug-ins not loaded because other users can change them: %1</translation>
    </message>
    <message>
        <source>设置没有保存成功：%1</source>
        <translation>The settings could not be saved: %1</translation>
    </message>
    <message>
        <source>Orvane 不一样的音乐体验</source>
        <translation>Orvane: music, differently</translation>
    </message>
    <message>
        <source>%1已损坏，已另存为 %2</source>
        <translation>%1 was damaged and has been set aside as %2</translation>
    </message>
    <message>
        <source>播放列表</source>
        <translation>The playlist</translation>
    </message>
    <message>
        <source>播放列表没有保存成功：%1</source>
        <translation>The playlist could not be saved: %1</translation>
    </message>
    <message>
        <source>确定要删除当前选择的歌曲吗？</source>
        <translation>Remove the selected song from the list?</translation>
    </message>
    <message>
        <source>确定要清空当前歌曲列表？</source>
        <translation>Clear the whole song list?</translation>
    </message>
    <message>
        <source>删除选择文件</source>
        <translation>Remove Selected Song</translation>
    </message>
    <message>
        <source>清空播放列表</source>
        <translation>Clear Playlist</translation>
    </message>
    <message>
        <source>Tallo音乐分享平台</source>
        <translation>Tallo Music Sharing</translation>
    </message>
    <message>
        <source>添加音乐</source>
        <translation>Add Music</translation>
    </message>
    <message>
        <source>播放/暂停</source>
        <translation>Play/Pause</translation>
    </message>
    <message>
        <source>上一首</source>
        <translation>Previous Song</translation>
    </message>
    <message>
        <source>下一首</source>
        <translation>Next Song</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Tallo官方群</source>
        <translation>Tallo Group</translation>
    </message>
    <message>
        <source>寻求帮助</source>
        <translation>Get Help</translation>
    </message>
    <message>
        <source>Orvane官网</source>
        <translation>Orvane Website</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>正在添加 %1/%2</source>
        <translation>Adding %1/%2</translation>
    </message>
    <message>
        <source>选择歌词存放目录</source>
        <translation>Choose the folder for lyrics</translation>
    </message>
    <message>
        <source>选择歌曲缓存目录</source>
        <translation>Choose the folder for cached songs</translation>
    </message>
    <message>
        <source>连接音乐服务器…</source>
        <translation>Connect to a music server…</translation>
    </message>
    <message>
        <source>正在寻找歌曲…</source>
        <translation>Looking for songs…</translation>
    </message>
    <message>
        <source>无法连接音乐服务器：%1</source>
        <translation>Cannot reach the music server: %1</translation>
    </message>
    <message>
        <source>音乐服务器上没有找到歌曲</source>
        <translation>The music server has no songs</translation>
    </message>
    <message>
        <source>没有找到可以随便听听的歌曲：在菜单“连接音乐服务器…”中连接服务器，或把歌曲放进音乐文件夹</source>
        <translation>No songs to shuffle: connect a server with “Connect to a music server…” in the menu, or put songs into your Music folder</translation>
    </message>
    <message>
        <source>纯音乐，请欣赏</source>
        <translation>Instrumental — enjoy the music</translation>
    </message>
    <message>
        <source>无法播放：%1</source>
        <translation>Cannot play: %1</translation>
    </message>
    <message>
        <source>无法播放：%1 首歌曲</source>
        <translation>Cannot play: %1 songs</translation>
    </message>
    <message>
        <source>没有可用的声音输出，恢复后接着播放</source>
        <translation>No sound output is available; playback goes on once it is back</translation>
    </message>
    <message>
        <source>添加文件夹</source>
        <translation>Add Folder</translation>
    </message>
</context>
<context>
    <name>orvane::app::TNimMusicServer</name>
    <message>
        <source>还没有设置服务器的地址和用户名</source>
        <translation>No server address and user name yet</translation>
    </message>
    <message>
        <source>找不到这个服务器地址</source>
        <translation>This server address cannot be found</translation>
    </message>
    <message>
        <source>服务器没有回应，请检查地址、端口和服务器是否在运行</source>
        <translation>The server does not answer: check the address, the port and that the server is running</translation>
    </message>
    <message>
        <source>服务器长时间没有回应</source>
        <translation>The server took too long to answer</translation>
    </message>
    <message>
        <source>安全连接失败（%1）</source>
        <translation>The secure connection failed (%1)</translation>
    </message>
    <message>
        <source>服务器没有回应</source>
        <translation>The server does not answer</translation>
    </message>
    <message>
        <source>连接失败（%1）</source>
        <translation>The connection failed (%1)</translation>
    </message>
    <message>
        <source>这个地址不是音乐服务器（HTTP %1）</source>
        <translation>This address is not a music server (HTTP %1)</translation>
    </message>
    <message>
        <source>这个地址不是音乐服务器</source>
        <translation>This address is not a music server</translation>
    </message>
    <message>
        <source>请求缺少必需的参数，服务器不接受这种登录方式</source>
        <translation>A required parameter is missing: the server does not take this way of logging in</translation>
    </message>
    <message>
        <source>服务器要求更新的客户端</source>
        <translation>The server needs a newer client</translation>
    </message>
    <message>
        <source>服务器的版本太旧，请升级服务器</source>
        <translation>The server is too old: please upgrade it</translation>
    </message>
    <message>
        <source>用户名或密码错误</source>
        <translation>Wrong user name or password</translation>
    </message>
    <message>
        <source>服务器不接受令牌登录</source>
        <translation>The server does not take token logins</translation>
    </message>
    <message>
        <source>这个用户没有权限这样做</source>
        <translation>This user may not do that</translation>
    </message>
    <message>
        <source>服务器上找不到要的内容</source>
        <translation>The server does not have what was asked for</translation>
    </message>
    <message>
        <source>服务器出错（错误 %1）</source>
        <translation>The server failed (error %1)</translation>
    </message>
    <message>
        <source>服务器出错：%1</source>
        <translation>The server failed: %1</translation>
    </message>
    <message>
        <source>连接成功：%1，API %2</source>
        <translation>Connected: %1, API %2</translation>
    </message>
    <message>
        <source>连接音乐服务器</source>
        <translation>Connect to a music server</translation>
    </message>
    <message>
        <source>没有可用的密钥环：密码将保存在只有你能读取的文件中</source>
        <translation>No keyring answers: the password will be kept in a file only you can read</translation>
    </message>
    <message>
        <source>地址里不能带用户名或密码，请填在下面</source>
        <translation>Leave the user name and password out of the address; fill them in below</translation>
    </message>
    <message>
        <source>请填写服务器的地址，例如 http://192.168.1.2:4533</source>
        <translation>Enter the server&apos;s address, for example http://192.168.1.2:4533</translation>
    </message>
    <message>
        <source>请填写用户名</source>
        <translation>Enter a user name</translation>
    </message>
    <message>
        <source>正在连接…</source>
        <translation>Connecting…</translation>
    </message>
    <message>
        <source>正在保存…</source>
        <translation>Saving…</translation>
    </message>
    <message>
        <source>已保存。没有可用的密钥环，密码保存在只有你能读取的文件中</source>
        <translation>Saved. No keyring answers, so the password is kept in a file only you can read</translation>
    </message>
    <message>
        <source>密码没有保存成功（%1）：这次可以使用，下次启动时需要重新输入</source>
        <translation>The password could not be stored (%1): it works for now, but you will need to enter it again next time</translation>
    </message>
    <message>
        <source>纯音乐，请欣赏</source>
        <translation type="vanished">Instrumental — enjoy the music</translation>
    </message>
</context>
<context>
    <name>orvane::bugreport::TBugReportDialog</name>
    <message>
        <source>Orvane 意外退出</source>
        <translation>Orvane quit unexpectedly</translation>
    </message>
    <message>
        <source>Orvane 遇到了问题，已经退出。播放列表和设置都已保存。</source>
        <translation>Orvane ran into a problem and quit. Your playlists and settings are saved.</translation>
    </message>
    <message>
        <source>Orvane 遇到了问题，已经退出。最近的更改可能没有保存。</source>
        <translation>Orvane ran into a problem and quit. Your latest changes may not have been saved.</translation>
    </message>
    <message>
        <source>没有找到崩溃记录。</source>
        <translation>No crash record was found.</translation>
    </message>
    <message>
        <source>重新启动 Orvane</source>
        <translation>Restart Orvane</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>orvane::lyrics::TLrcResultModel</name>
    <message>
        <source>纯音乐</source>
        <translation>Instrumental</translation>
    </message>
    <message>
        <source>无时间轴</source>
        <translation>No timing</translation>
    </message>
</context>
<context>
    <name>orvane::lyrics::TNimSlrc</name>
    <message>
        <source>歌词搜索</source>
        <translation>Lyric Search</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>停止下载</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>下载歌词</source>
        <translation>Get Lyrics</translation>
    </message>
    <message>
        <source>无法连接歌词服务器</source>
        <translation>Cannot reach the lyrics server</translation>
    </message>
    <message>
        <source>歌词下载组件不可用</source>
        <translation>The lyrics download component is not available</translation>
    </message>
    <message>
        <source>没有找到歌词</source>
        <translation>No lyrics found</translation>
    </message>
    <message>
        <source>歌词下载失败，请稍后再试</source>
        <translation>The lyrics download failed; please try again later</translation>
    </message>
    <message>
        <source>这一项没有可用的歌词</source>
        <translation>This result has no usable lyrics</translation>
    </message>
    <message>
        <source>歌词已下载</source>
        <translation>Lyrics downloaded</translation>
    </message>
    <message>
        <source>歌词服务器出错，请稍后再试</source>
        <translation>The lyrics server reported an error; please try again later</translation>
    </message>
    <message>
        <source>这一项只有歌词文本，没有时间轴</source>
        <translation>This result has only the words, without timing</translation>
    </message>
</context>
</TS>
