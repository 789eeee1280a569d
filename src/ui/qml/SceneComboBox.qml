import QtQuick
import QtQuick.Controls.Basic

// A drop-down list in the face's style. currentIndex follows the owner's value; `activated` reports
// the user's choice.
ComboBox {
    id: combo

    implicitWidth: 114
    implicitHeight: 22
    font.family: Style.fontFamily
    font.pixelSize: Style.fontPixelSize

    background: Rectangle {
        radius: 2
        color: combo.pressed ? "#FF0A3E69" : "#80021525"
        border.width: 1
        border.color: combo.hovered || combo.popup.visible ? "#FF9EE0FF" : "#B349B6F5"
    }

    contentItem: SceneText {
        leftPadding: 6
        rightPadding: combo.indicator.width + 4
        text: combo.displayText
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    indicator: Canvas {
        x: combo.width - width - 6
        y: (combo.height - height) / 2
        width: 8
        height: 5
        renderStrategy: Canvas.Immediate
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.fillStyle = "#FFE6EEF5"
            ctx.beginPath()
            ctx.moveTo(0, 0)
            ctx.lineTo(width, 0)
            ctx.lineTo(width / 2, height)
            ctx.closePath()
            ctx.fill()
        }
    }

    delegate: ItemDelegate {
        required property int index
        required property var modelData
        width: combo.width
        height: 22
        highlighted: combo.highlightedIndex === index
        contentItem: SceneText {
            text: modelData
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
        background: Rectangle {
            color: highlighted ? Style.rowSelected : "transparent"
        }
    }

    popup: Popup {
        y: combo.height
        width: combo.width
        implicitHeight: Math.min(contentItem.implicitHeight + 2, 22 * 8 + 2)
        padding: 1

        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: combo.popup.visible ? combo.delegateModel : null
            currentIndex: combo.highlightedIndex
            boundsBehavior: Flickable.StopAtBounds
        }

        background: Rectangle {
            radius: 2
            color: "#F2062F50"
            border.width: 1
            border.color: "#B349B6F5"
        }
    }
}
