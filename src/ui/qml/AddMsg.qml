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

    // Side by side below the text when there are two, the one alone centred; placed by bindings,
    // not a Row, so a button is where it shows at once.
    TextButton {
        id: addButton
        x: folderButton.visible ? Math.round(hint.width / 2 - width - 5) : Math.round((hint.width - width) / 2)
        anchors.top: message.bottom
        anchors.topMargin: 4
        width: 84
        height: 26
        onClicked: hint.addClicked()
    }

    TextButton {
        id: folderButton
        visible: text !== ""
        x: Math.round(hint.width / 2 + 5)
        anchors.top: message.bottom
        anchors.topMargin: 4
        width: 84
        height: 26
        onClicked: hint.addFolderClicked()
    }
}
