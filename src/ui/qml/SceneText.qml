import QtQuick

// A line of text in the scene's face font.
Text {
    color: Style.text
    font.family: Style.fontFamily
    font.pixelSize: Style.fontPixelSize
    renderType: Text.NativeRendering
    textFormat: Text.PlainText
}
