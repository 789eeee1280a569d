import QtQuick

// A Yes/No message pop-up. result(6) for "Yes", result(7) for "No" or Esc.
Rectangle {
    id: pop

    property alias text: message.text
    property alias label: message
    signal result(int code)

    width: 256
    height: 140
    radius: 3
    border.width: 1
    border.color: "#8049B6F5"
    gradient: Gradient {
        GradientStop { position: 0; color: "#FF0C5E9C" }
        GradientStop { position: 0.2; color: "#FF06365A" }
        GradientStop { position: 1; color: "#FF052A46" }
    }

    focus: visible
    onVisibleChanged: if (visible) forceActiveFocus()
    Keys.onEscapePressed: pop.result(7)

    // The pop-up is modal: nothing under it takes the mouse.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        onWheel: (wheel) => wheel.accepted = true
    }

    SceneText {
        id: message
        objectName: "lblMsg"
        x: 16
        y: 14
        width: parent.width - 32
        height: 80
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    Row {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 12
        spacing: 8

        TextButton {
            objectName: "btnYes"
            text: qsTr("Yes")
            width: 64
            onClicked: pop.result(6)
        }
        TextButton {
            objectName: "btnNo"
            text: qsTr("No")
            width: 64
            onClicked: pop.result(7)
        }
    }
}
