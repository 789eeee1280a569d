import QtQuick

// The mini-mode tile: a small picture with the play button and the way back.
Item {
    id: tile

    width: 88
    height: 80

    // White glow, softness 0.4: a tight halo.
    Repeater {
        model: [0.55, 0.2]
        Rectangle {
            required property int index
            required property real modelData
            anchors.fill: parent
            anchors.margins: -(index + 1)
            radius: 6 + index + 1
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.9 * modelData)
        }
    }

    Image {
        anchors.fill: parent
        source: Qt.resolvedUrl("icons/mini.svg")
        sourceSize.width: width
        sourceSize.height: height
        fillMode: Image.Stretch
    }

    ImageButton {
        objectName: "btnPlay2"
        x: 31; y: 23; width: 27; height: 27
        glyph: main.play2Glyph
        hint: qsTr("播放")
        onClicked: main.btn_playClick()
    }

    ImageButton {
        objectName: "transformation2"
        x: 58; y: 39; width: 25; height: 25
        glyph: "转换1"
        hint: qsTr("返回")
        restOpacity: 0.3
        onClicked: main.transformation2Click()
    }
}
