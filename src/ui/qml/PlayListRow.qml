import QtQuick

// One row of a song list: the number docked left, 30 wide, the caption filling the rest. The playing row
// (mark) is taller and drawn in the highlight colour with a bold caption.
Item {
    id: row

    required property int index
    required property string lno
    required property string caption
    required property bool mark
    required property int rowHeight

    property bool selected: false
    property bool hovered: false

    height: rowHeight

    Rectangle {
        anchors.fill: parent
        visible: color.a > 0
        color: row.selected ? Style.rowSelected
             : row.hovered ? Style.rowHover
             : (row.index % 2 === 1 ? Style.rowAlternate : "transparent")
    }

    SceneText {
        objectName: "lno"
        x: 0
        y: 5
        width: 30
        height: row.height - 5
        verticalAlignment: Text.AlignVCenter
        text: row.lno
        color: row.mark ? Style.markText : "#FFffffff"
    }

    SceneText {
        objectName: "caption"
        x: 30
        y: 5
        width: row.width - 30
        height: row.height - 5
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        text: row.caption
        color: row.mark ? Style.markText : Style.dimText
        font.bold: row.mark
    }
}
