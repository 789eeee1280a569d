import QtQuick

// The dialog "连接音乐服务器", 398 × 238, in the look of the lyric search dialog: address, user
// name and password, "测试连接", "保存", "断开" and "记录播放次数". Its owner is the C++
// TNimMusicServer, which talks to the server and keeps the login; the scene only shows its state
// and passes the clicks on.
Item {
    id: root

    required property QtObject owner

    width: parent ? parent.width : 398
    height: parent ? parent.height : 238

    Shortcut {
        sequence: "Esc"
        onActivated: root.owner.CloseButtonClick()
    }

    DialogFrame {
        id: content
        anchors.fill: parent
        opacity: 0
        onCloseClicked: root.owner.CloseButtonClick()

        NumberAnimation on opacity { from: 0; to: 1; duration: 800 }

        SceneText { x: 16; y: 8; color: Style.accentLight; text: qsTr("连接音乐服务器") }

        SceneText { x: 16; y: 37; text: qsTr("地址：") }
        SceneText { x: 16; y: 67; text: qsTr("用户名：") }
        SceneText { x: 16; y: 97; text: qsTr("密码：") }

        EditBox {
            objectName: "edt_Address"
            x: 84; y: 34; width: 200; height: 22
            hint: "http://192.168.1.2:4533"
            text: root.owner.edt_Address
            onEdited: (text) => root.owner.edt_Address = text
            onAccepted: root.owner.btnTestClick()
            Component.onCompleted: input.forceActiveFocus()
        }
        EditBox {
            objectName: "edt_User"
            x: 84; y: 64; width: 200; height: 22
            text: root.owner.edt_User
            onEdited: (text) => root.owner.edt_User = text
            onAccepted: root.owner.btnTestClick()
        }
        EditBox {
            objectName: "edt_Password"
            x: 84; y: 94; width: 200; height: 22
            secret: true
            text: root.owner.edt_Password
            onEdited: (text) => root.owner.edt_Password = text
            onAccepted: root.owner.btnTestClick()
        }

        TextButton {
            objectName: "btnTest"
            x: 299; y: 34; width: 80; height: 22
            text: qsTr("测试连接")
            enabled: !root.owner.busy
            onClicked: root.owner.btnTestClick()
        }
        TextButton {
            objectName: "btnSave"
            x: 299; y: 64; width: 80; height: 22
            text: qsTr("保存")
            enabled: !root.owner.busy
            onClicked: root.owner.btnSaveClick()
        }
        TextButton {
            objectName: "btnDisconnect"
            x: 299; y: 94; width: 80; height: 22
            text: qsTr("断开")
            enabled: root.owner.connected
            onClicked: root.owner.btnDisconnectClick()
        }

        SceneCheckBox {
            objectName: "chkScrobble"
            x: 84; y: 126
            text: qsTr("记录播放次数")
            checked: root.owner.chkScrobble
            onClicked: root.owner.chkScrobbleClick()
        }

        // That no keyring answers, before the user saves.
        SceneText {
            objectName: "keyring"
            x: 16; y: 154; width: 366
            wrapMode: Text.Wrap
            color: Style.dimText
            text: root.owner.keyringText
        }

        // The server's name and API version, or why it refused.
        SceneText {
            objectName: "status"
            x: 16; y: 186; width: 366
            wrapMode: Text.Wrap
            maximumLineCount: 3
            elide: Text.ElideRight
            color: root.owner.statusIsError ? "#FFFF9B8E" : Style.accentLight
            text: root.owner.statusText
        }
    }
}
