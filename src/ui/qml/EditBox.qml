import QtQuick

// A one-line text box of the dialogs, in the panel's colours; a grey hint shows while it is empty.
Rectangle {
    id: box

    property alias text: input.text
    property alias input: input
    property string hint
    property bool secret: false
    signal edited(string text)
    signal accepted()

    radius: 2
    color: "#59021525"
    border.width: 1
    border.color: input.activeFocus ? "#B39EE0FF" : "#6649B6F5"
    clip: true

    TextInput {
        id: input
        anchors.fill: parent
        anchors.leftMargin: 4
        anchors.rightMargin: 4
        verticalAlignment: TextInput.AlignVCenter
        color: Style.text
        selectionColor: "#FF2C9BE8"
        selectByMouse: true
        echoMode: box.secret ? TextInput.Password : TextInput.Normal
        font.family: Style.fontFamily
        font.pixelSize: Style.fontPixelSize
        onTextEdited: box.edited(text)
        onAccepted: box.accepted()
    }

    SceneText {
        anchors.fill: input
        verticalAlignment: Text.AlignVCenter
        visible: input.text === "" && !input.activeFocus
        color: "#80BCB9B9"
        elide: Text.ElideRight
        text: box.hint
    }
}
