import QtQuick

// A small captioned push button in the face's style.
Rectangle {
    id: button

    property alias text: label.text
    signal clicked()

    implicitWidth: Math.max(64, label.implicitWidth + 24)
    implicitHeight: 24
    radius: 3
    border.width: 1
    border.color: area.containsMouse ? "#B39EE0FF" : "#6649B6F5"
    gradient: Gradient {
        GradientStop { position: 0; color: area.pressed ? "#FF0B4D80" : (area.containsMouse ? "#FF2A86CC" : "#FF1C6FAE") }
        GradientStop { position: 1; color: area.pressed ? "#FF0A3E69" : (area.containsMouse ? "#FF145E99" : "#FF0F4F85") }
    }
    opacity: enabled ? 1 : 0.5

    SceneText {
        id: label
        anchors.centerIn: parent
        anchors.verticalCenterOffset: area.pressed ? 1 : 0
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }
}
