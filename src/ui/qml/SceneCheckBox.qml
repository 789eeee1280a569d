import QtQuick

// A check box in the face's style. It shows `checked` as its owner holds it and only reports the
// click: the owner flips the value, so the box and the setting it stands for never disagree.
Item {
    id: box

    property alias text: label.text
    property bool checked: false
    signal clicked()

    implicitWidth: mark.width + 6 + label.implicitWidth
    implicitHeight: 18

    Rectangle {
        id: mark
        width: 13
        height: 13
        anchors.verticalCenter: parent.verticalCenter
        radius: 2
        color: area.pressed ? "#FF0A3E69" : "#80021525"
        border.width: 1
        border.color: area.containsMouse ? "#FF9EE0FF" : "#B349B6F5"

        // The tick.
        Canvas {
            anchors.fill: parent
            visible: box.checked
            renderStrategy: Canvas.Immediate
            onPaint: {
                const ctx = getContext("2d")
                ctx.reset()
                ctx.strokeStyle = "#FFFFFFFF"
                ctx.lineWidth = 1.8
                ctx.lineCap = "round"
                ctx.lineJoin = "round"
                ctx.beginPath()
                ctx.moveTo(3, 6.8)
                ctx.lineTo(5.6, 9.4)
                ctx.lineTo(10.2, 3.6)
                ctx.stroke()
            }
        }
    }

    SceneText {
        id: label
        x: mark.width + 6
        anchors.verticalCenter: parent.verticalCenter
        color: area.containsMouse ? Style.text : "#FFE6EEF5"
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: box.clicked()
    }
}
