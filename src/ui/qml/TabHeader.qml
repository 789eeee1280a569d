import QtQuick

// One tab of a tab control's header row.
Item {
    id: tab

    property alias text: label.text
    property bool checked: false
    // Room kept free at the right for a small button that lives on the tab.
    property real extraRight: 0
    signal clicked()

    implicitWidth: label.implicitWidth + 24 + extraRight
    implicitHeight: 24

    Rectangle {
        anchors.fill: parent
        anchors.bottomMargin: -radius
        radius: 3
        visible: tab.checked || area.containsMouse
        color: tab.checked ? "#402C9BE8" : "#14FFFFFF"
        border.width: tab.checked ? 1 : 0
        border.color: Style.panelBorder
    }

    SceneText {
        id: label
        x: 12
        anchors.verticalCenter: parent.verticalCenter
        color: tab.checked ? Style.text : Style.dimText
        font.bold: tab.checked
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: tab.clicked()
    }
}
