import QtQuick

// A short message shown for a few seconds at the bottom of the face; `shown` fires once it has
// faded out again, so the owner can clear it.
Rectangle {
    id: toast

    property string text
    property int holdMs: 4000
    signal shown()

    height: label.implicitHeight + 16
    radius: 3
    color: "#E6031C30"
    border.width: 1
    border.color: "#8049B6F5"
    opacity: 0
    visible: opacity > 0

    SceneText {
        id: label
        anchors.fill: parent
        anchors.margins: 8
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        text: toast.text
    }

    SequentialAnimation {
        id: cycle
        NumberAnimation { target: toast; property: "opacity"; to: 1; duration: 200 }
        PauseAnimation { duration: toast.holdMs }
        NumberAnimation { target: toast; property: "opacity"; to: 0; duration: 400 }
        ScriptAction { script: toast.shown() }
    }

    onTextChanged: showIfAny()
    Component.onCompleted: showIfAny()

    function showIfAny() {
        if (text === "") return
        cycle.restart()
    }
}
