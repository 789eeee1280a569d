import QtQuick

// The settings page on the back of the face. Every control shows the owner's value and calls its
// handler; the handlers act at once, "保存" also writes the settings file. Enter saves, Esc goes
// back, as the page's default and cancel buttons.
Rectangle {
    id: page

    width: 254
    height: 284
    radius: 3
    border.width: 2
    border.color: Style.faceStroke
    gradient: Gradient {
        GradientStop { position: 0; color: Style.face0 }
        GradientStop { position: 0.105; color: Style.face1 }
        GradientStop { position: 0.88; color: Style.face2 }
        GradientStop { position: 1; color: Style.face3 }
    }

    focus: visible
    onVisibleChanged: if (visible) forceActiveFocus()
    Keys.onReturnPressed: main.HudButton3Click()
    Keys.onEnterPressed: main.HudButton3Click()
    Keys.onEscapePressed: main.btnAboutBackClick()

    SceneText {
        x: 7; y: 31; height: 20
        verticalAlignment: Text.AlignVCenter
        text: qsTr("播放模式：")
    }
    SceneComboBox {
        objectName: "modBox"
        x: 133; y: 29
        model: [qsTr("普通"), qsTr("循环"), qsTr("单曲循环")]
        currentIndex: main.modBox
        onActivated: (index) => main.modBox = index
    }

    SceneText {
        x: 7; y: 69; height: 20
        verticalAlignment: Text.AlignVCenter
        text: qsTr("音效模式：")
    }
    SceneComboBox {
        objectName: "effBox"
        x: 133; y: 67
        model: main.effBoxItems
        currentIndex: main.effBox
        onActivated: (index) => main.effBox = index
    }

    TextButton {
        objectName: "btnLrcPath"
        x: 7; y: 108; width: 100
        text: qsTr("歌词缓存路径")
        onClicked: main.pmm_setdownClick()
    }
    SceneTextBox {
        objectName: "txtlrcPath"
        x: 117; y: 109
        text: main.txtlrcPath
    }

    TextButton {
        objectName: "btnMsPath"
        x: 7; y: 150; width: 100
        text: qsTr("歌曲缓存路径")
        onClicked: main.pmm_sdownClick()
    }
    SceneTextBox {
        objectName: "txtmsPath"
        x: 117; y: 151
        text: main.txtmsPath
    }

    SceneCheckBox {
        objectName: "chkShowLrc"
        x: 7; y: 189
        text: qsTr("显示歌词")
        checked: main.chkShowLrc
        onClicked: main.btn_lrcClick()
    }
    SceneCheckBox {
        objectName: "chkTallo"
        x: 139; y: 189
        text: qsTr("启动Tallo音乐")
        checked: main.chkTallo
        onClicked: main.chkTalloClick()
    }
    SceneCheckBox {
        objectName: "chkAutoRun"
        x: 7; y: 211
        text: qsTr("开机自动运行")
        checked: main.chkAutoRun
        onClicked: main.chkAutoRunClick()
    }
    SceneCheckBox {
        objectName: "chkOnlineLrc"
        x: 139; y: 211
        text: qsTr("在线歌词")
        checked: main.chkOnlineLrc
        onClicked: main.chkOnlineLrcClick()
    }

    TextButton {
        objectName: "HudButton3"
        x: 123; y: 248; width: 60; height: 26
        text: qsTr("保存")
        onClicked: main.HudButton3Click()
    }
    TextButton {
        objectName: "HudButton2"
        x: 188; y: 248; width: 60; height: 26
        text: qsTr("返回")
        onClicked: main.btnAboutBackClick()
    }
}
