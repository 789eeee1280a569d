pragma Singleton
import QtQuick

// Fonts and colours shared by the scene's pieces.
QtObject {
    // The face's traditional 9 pt Song typeface is a Windows font; a CJK sans at the same pixel
    // height reads best on Linux desktops.
    readonly property string fontFamily: "Noto Sans CJK SC"
    readonly property int fontPixelSize: 12

    readonly property color text: "#FFFFFFFF"
    readonly property color dimText: "#FFBCB9B9"
    readonly property color markText: "#FFF7FD7B"

    // The face's vertical gradient.
    readonly property color face0: "#FF0A5B97"
    readonly property color face1: "#FF052D4A"
    readonly property color face2: "#FF052F4E"
    readonly property color face3: "#FF09558D"
    readonly property color faceStroke: "#FF04233B"

    readonly property color panel: "#40021525"
    readonly property color panelBorder: "#2EFFFFFF"
    readonly property color rowAlternate: "#0CFFFFFF"
    readonly property color rowHover: "#1FFFFFFF"
    readonly property color rowSelected: "#4D2C9BE8"
    readonly property color accent: "#FF49B6F5"
    readonly property color accentLight: "#FF9EE0FF"
}
