import QtQuick

// The hint over an empty music list, with its buttons to add songs and to add a folder of songs.
Item {
    id: hint

    property alias text: message.text
    property alias buttonText: addButton.text
    property alias button: addButton
    property alias folderButtonText: folderButton.text
    property alias folderButton: folderButton
    signal addClicked()
    signal addFolderClicked()

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

    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: message.bottom
        anchors.topMargin: 4
        spacing: 10

        TextButton {
            id: addButton
            width: 84
            height: 26
            onClicked: hint.addClicked()
        }

        TextButton {
            id: folderButton
            width: 84
            height: 26
            onClicked: hint.addFolderClicked()
        }
    }
}
