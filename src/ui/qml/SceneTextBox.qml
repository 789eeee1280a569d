import QtQuick

// A one-line box that shows a text the user may select and copy but not change. It keeps the end
// of the text in view, where a folder's own name is.
Rectangle {
    id: box

    property alias text: input.text

    implicitWidth: 130
    implicitHeight: 22
    radius: 2
    color: "#80021525"
    border.width: 1
    border.color: "#8049B6F5"

    TextInput {
        id: input
        anchors.fill: parent
        anchors.leftMargin: 5
        anchors.rightMargin: 5
        verticalAlignment: TextInput.AlignVCenter
        clip: true
        readOnly: true
        selectByMouse: true
        color: "#FFE6EEF5"
        selectionColor: Style.accent
        font.family: Style.fontFamily
        font.pixelSize: Style.fontPixelSize
        renderType: Text.NativeRendering
        onTextChanged: cursorPosition = text.length
    }
}
