import QtQuick

// The hint over an empty music list, with its button to add songs.
Item {
    id: hint

    property alias text: message.text
    property alias buttonText: addButton.text
    property alias button: addButton
    signal addClicked()

    SceneText {
        id: message
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 18
        y: Math.round(parent.height * 0.30)
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        lineHeight: 1.25
        color: Style.dimText
    }

    TextButton {
        id: addButton
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: message.bottom
        anchors.topMargin: 4
        width: 84
        height: 26
        onClicked: hint.addClicked()
    }
}
