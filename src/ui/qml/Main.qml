import QtQuick
import QtQuick.Window

// The main window's scene. Every piece carries the component name the rest of the program uses as
// its objectName. All logic lives in the context object `main`: the scene binds its properties and
// calls its handlers.
Window {
    id: window

    width: 290
    height: 418
    minimumWidth: 290
    maximumWidth: 290
    minimumHeight: 418
    maximumHeight: 418
    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"
    title: "Orvane4"
    visible: true

    // The part of the window that takes the mouse; empty: all of it. In mini mode only the tile does,
    // so clicks on the transparent rest reach whatever lies under the window.
    property rect inputRegion: Qt.rect(0, 0, 0, 0)

    // Without a compositor the window's transparent pixels show black, so the window is then only
    // the face on show: the corners of its outline as it is turned, pushed back or shrunk (empty:
    // the whole window, with a compositor). The owner cuts the window to them.
    readonly property var faceShape: {
        // The geometry the outline follows; the corners themselves are mapped below.
        const follows = [mainBox.rotateAngleY, mainBox.positionZ, mainBox.width, mainBox.height, mainBox.x, mainBox.y]
        if (main.compositing || follows.length === 0) return []
        const face = mainBox.shownFace === 1 ? settingPage : mainBox.shownFace === 2 ? miniTile : mainFace
        // The glow's innermost line stays; the outer ones would only be grey on black.
        const spread = 1
        return [face.mapToItem(null, -spread, -spread), face.mapToItem(null, face.width + spread, -spread),
                face.mapToItem(null, face.width + spread, face.height + spread),
                face.mapToItem(null, -spread, face.height + spread)]
    }

    // Hints in the face's colours rather than the desktop's.
    palette.toolTipBase: "#F2062F50"
    palette.toolTipText: "#FFFFFFFF"
    palette.dark: "#FF49B6F5"

    Component.onCompleted: {
        x = Screen.virtualX + Math.round((Screen.width - width) / 2)
        y = Screen.virtualY + Math.round((Screen.height - height) / 2)
    }

    // The 3-D layer that holds every face. The settings flip turns it about its vertical axis and
    // pushes it back in depth; mini mode shrinks it about the window's centre.
    Item {
        id: mainBox
        objectName: "MainBox"

        property real rotateAngleY: 0
        property real positionZ: 0
        // The face on show (0 Main, 1 Setting, 2 Mini) and the control bar and lists of Main; the
        // face sequences below change them step by step.
        property int shownFace: 0
        property bool layout1Shown: true
        property bool layout2Shown: true

        // The window's keys reach the owner unless a control took them (the settings page's boxes,
        // the pop-up's Esc). Focus comes back here once the settings page or the pop-up is gone.
        readonly property bool keysHome: shownFace !== 1 && !main.msgVisible
        focus: true
        onKeysHomeChanged: if (keysHome) forceActiveFocus()
        Keys.onPressed: (event) => { event.accepted = main.KeyPressed(event.key, event.modifiers) }

        width: 290
        height: 418
        x: Math.round((window.width - width) / 2)
        y: Math.round((window.height - height) / 2)

        transform: [
            Scale {
                // A face pushed back by positionZ looks smaller as seen from 1000 units away.
                origin.x: mainBox.width / 2
                origin.y: mainBox.height / 2
                xScale: 1000 / (1000 + Math.max(-900, mainBox.positionZ))
                yScale: xScale
            },
            Rotation {
                // Projected: the near edge grows and the far edge shrinks, so the turn reads as 3-D.
                origin.x: mainBox.width / 2
                origin.y: mainBox.height / 2
                axis { x: 0; y: 1; z: 0 }
                angle: mainBox.rotateAngleY
            }
        ]

        Item {
            id: root2
            objectName: "Root2"
            anchors.fill: parent

            // While the layer is turned or pushed back, the face is drawn once into a picture and
            // only the picture is projected: projecting every glyph and gradient of the face each
            // frame is far too slow for the software renderer.
            layer.enabled: mainBox.rotateAngleY !== 0 || mainBox.positionZ !== 0
            layer.smooth: true

            NumberAnimation on opacity { from: 0; to: 1; duration: 1000 }

            // Dragging the window by any part of the face that is not a control.
            MouseArea {
                id: dragArea
                anchors.fill: parent
                property point pressAt
                property bool manualMove: false
                onPressed: (mouse) => {
                    manualMove = !window.startSystemMove()
                    pressAt = Qt.point(mouse.x, mouse.y)
                }
                onPositionChanged: (mouse) => {
                    if (!manualMove || !pressed) return
                    window.x += mouse.x - pressAt.x
                    window.y += mouse.y - pressAt.y
                }
                onReleased: manualMove = false
            }

            // The white glow around the face. It has only the face's margins (2-3 px) to spread
            // into, so a few fading outlines give the same look as a blur, draw with any scene
            // backend (the software one too) and cost nothing per frame.
            Item {
                id: glow
                anchors.fill: mainFace
                visible: mainFace.visible
                opacity: mainFace.opacity

                Repeater {
                    model: [0.50, 0.26, 0.10]
                    Rectangle {
                        required property int index
                        required property real modelData
                        anchors.fill: parent
                        anchors.margins: -(index + 1)
                        radius: mainFace.radius + index + 1
                        color: "transparent"
                        border.width: 1
                        // Glow opacity 0.9, fading outwards.
                        border.color: Qt.rgba(1, 1, 1, 0.9 * modelData)
                    }
                }
            }

            Rectangle {
                id: mainFace
                objectName: "Main"

                readonly property int padding: 15

                visible: mainBox.shownFace === 0
                anchors.fill: parent
                anchors.leftMargin: 2
                anchors.topMargin: 2
                anchors.rightMargin: 2
                anchors.bottomMargin: 3
                radius: 3
                border.width: 2
                border.color: Style.faceStroke
                gradient: Gradient {
                    GradientStop { position: 0; color: Style.face0 }
                    GradientStop { position: 0.127; color: Style.face1 }
                    GradientStop { position: 0.865; color: Style.face2 }
                    GradientStop { position: 1; color: Style.face3 }
                }

                // The control bar.
                Item {
                    id: layout1
                    objectName: "Layout1"
                    visible: mainBox.layout1Shown
                    x: mainFace.padding
                    y: mainFace.padding
                    width: 256
                    height: 66

                    SceneText {
                        objectName: "lbl_title"
                        x: 14
                        y: 17
                        width: 211
                        height: 15
                        verticalAlignment: Text.AlignVCenter
                        elide: Text.ElideRight
                        font.bold: true
                        color: "#FFFFFFFF"
                        text: main.titleText
                    }

                    SeekBar {
                        objectName: "tbrmain"
                        x: 14
                        y: 15
                        width: 211
                        height: 17
                        maximum: main.seekMaximum
                        position: main.seekPosition
                        songLength: main.songLength
                        title: main.titleText
                        // The tick refreshes the bar only while it is fully shown, so the owner
                        // has to see every step of the fade.
                        onOpacityChanged: main.seekOpacity = opacity
                        onSeekPressed: (px, barWidth) => main.tbrmainMouseDown(px, barWidth)
                    }

                    ImageButton {
                        objectName: "btnLast"
                        x: 11; y: 34; width: 30; height: 30
                        glyph: "last"
                        hint: qsTr("上一曲")
                        restOpacity: 0.5
                        onClicked: main.btn_previousClick()
                    }
                    ImageButton {
                        objectName: "btnPlay"
                        x: 46; y: 34; width: 30; height: 30
                        glyph: main.playGlyph
                        hint: qsTr("播放")
                        restOpacity: 0.5
                        onClicked: main.btn_playClick()
                    }
                    ImageButton {
                        objectName: "btnNext"
                        x: 80; y: 34; width: 30; height: 30
                        glyph: "next"
                        hint: qsTr("下一曲")
                        restOpacity: 0.5
                        onClicked: main.btn_nextClick()
                    }

                    TrackBar {
                        objectName: "tbrV"
                        x: 117; y: 41; width: 78; height: 15
                        from: 0
                        to: 100
                        value: main.volume
                        onMoved: (v) => main.volume = v
                    }

                    ImageButton {
                        objectName: "btnAbout"
                        x: 195; y: 34; width: 30; height: 30
                        glyph: "comment"
                        hint: qsTr("设置")
                        restOpacity: 0.5
                        onClicked: main.btnAboutClick()
                    }

                    ImageButton {
                        objectName: "btnClose"
                        x: 231; y: 2; width: 20; height: 20
                        glyph: "关闭"
                        hint: qsTr("关闭")
                        onClicked: main.btn_closeClick()
                    }
                    ImageButton {
                        id: btnMenu
                        objectName: "btnMenu"
                        x: 231; y: 21; width: 20; height: 20
                        glyph: "缩小"
                        hint: qsTr("菜单")
                        // The main menu is also the button's context menu.
                        acceptedButtons: Qt.LeftButton | Qt.RightButton
                        onClicked: {
                            // The menu opens at the button's lower-left corner.
                            const p = btnMenu.mapToGlobal(0, btnMenu.height)
                            main.btnMenuClick(Math.round(p.x), Math.round(p.y))
                        }
                    }
                    ImageButton {
                        objectName: "btnMin"
                        x: 231; y: 41; width: 20; height: 20
                        glyph: "最小化"
                        hint: qsTr("音乐魔方")
                        onClicked: main.btn_minClick()
                    }
                }

                // The lists.
                Item {
                    id: layout2
                    objectName: "Layout2"
                    visible: mainBox.layout2Shown
                    x: mainFace.padding
                    y: layout1.y + layout1.height
                    width: mainFace.width - 2 * mainFace.padding
                    height: mainFace.height - y - mainFace.padding

                    Item {
                        id: tabControl
                        objectName: "TabControl1"
                        anchors.fill: parent

                        readonly property int currentIndex: main.tabIndex

                        Row {
                            id: tabHeader
                            x: 2
                            height: 24
                            spacing: 2

                            TabHeader {
                                height: tabHeader.height
                                text: qsTr("我的音乐列表")
                                checked: tabControl.currentIndex === 0
                                onClicked: main.tabIndex = 0
                            }
                            TabHeader {
                                id: rndTab
                                height: tabHeader.height
                                text: qsTr("随便听听")
                                extraRight: 18
                                checked: tabControl.currentIndex === 1
                                onClicked: main.tabIndex = 1

                                ImageButton {
                                    objectName: "btnRndMusic"
                                    anchors.right: parent.right
                                    anchors.rightMargin: 8
                                    anchors.verticalCenter: parent.verticalCenter
                                    width: 16
                                    height: 16
                                    glyph: "arrow_refresh"
                                    hint: qsTr("换歌")
                                    enabled: main.rndMusicEnabled
                                    onClicked: main.btn_rndlistClick()
                                }
                            }
                        }

                        Rectangle {
                            id: pageArea
                            y: tabHeader.height
                            width: parent.width
                            height: parent.height - y
                            radius: 3
                            color: Style.panel
                            border.width: 1
                            border.color: Style.panelBorder

                            Item {
                                id: musicPage
                                anchors.fill: parent
                                anchors.margins: 1
                                visible: tabControl.currentIndex === 0

                                PlayList {
                                    objectName: "lstDefault"
                                    anchors.fill: parent
                                    model: main.musicList
                                    visible: main.musicListVisible
                                    onRowDoubleClicked: main.plst_listItemDblClick()
                                    onContextMenuRequested: (sx, sy) => main.showListMenu(sx, sy)
                                }

                                AddMsg {
                                    objectName: "layAddMsg"
                                    anchors.fill: parent
                                    visible: main.addMsgVisible
                                    text: qsTr("歌曲列表里面没有歌曲，赶快添加歌曲开始不一样的音乐体验！\n")
                                    buttonText: qsTr("添加歌曲")
                                    button.objectName: "btnAddFiles"
                                    folderButtonText: qsTr("添加文件夹")
                                    folderButton.objectName: "btnAddFolder"
                                    onAddClicked: main.lbl_openClick()
                                    onAddFolderClicked: main.pmf_openfolderClick()
                                }

                                // Songs and folders dropped from a file manager join the list.
                                DropArea {
                                    id: dropArea
                                    objectName: "musicDrop"
                                    anchors.fill: parent
                                    keys: ["text/uri-list"]
                                    onDropped: (drop) => {
                                        if (!drop.hasUrls) return
                                        drop.acceptProposedAction()
                                        main.lstDefaultDragDrop(drop.urls)
                                    }
                                }

                                Rectangle {
                                    anchors.fill: parent
                                    visible: dropArea.containsDrag
                                    radius: 3
                                    color: "#1A49B6F5"
                                    border.width: 1
                                    border.color: Style.accentLight
                                }

                                // "正在添加 n/N" while songs are being added.
                                Rectangle {
                                    objectName: "addProgress"
                                    anchors.left: parent.left
                                    anchors.right: parent.right
                                    anchors.bottom: parent.bottom
                                    height: 20
                                    visible: main.addProgressText !== ""
                                    color: "#E6031C30"

                                    SceneText {
                                        anchors.fill: parent
                                        anchors.leftMargin: 8
                                        verticalAlignment: Text.AlignVCenter
                                        color: Style.accentLight
                                        text: main.addProgressText
                                    }
                                }
                            }

                            Item {
                                id: rndPage
                                anchors.fill: parent
                                anchors.margins: 1
                                visible: tabControl.currentIndex === 1

                                PlayList {
                                    objectName: "lstRndMusic"
                                    anchors.fill: parent
                                    model: main.rndList
                                    onRowDoubleClicked: main.plst_listItemDblClick()
                                }

                                // An empty tab says what it is looking for, or why it found
                                // nothing and what to do.
                                AddMsg {
                                    objectName: "rndMsg"
                                    anchors.fill: parent
                                    visible: main.rndList.count === 0 && main.rndMsgText !== ""
                                    text: main.rndMsgText
                                    buttonText: qsTr("连接音乐服务器…")
                                    button.objectName: "btnRndServer"
                                    button.visible: main.rndMsgOffersServer
                                    onAddClicked: main.pmm_serverClick()
                                }

                                // Over a list that stays as it was, the same words for a while.
                                NoticeToast {
                                    objectName: "rndNotice"
                                    anchors.left: parent.left
                                    anchors.right: parent.right
                                    anchors.bottom: parent.bottom
                                    anchors.margins: 6
                                    visible: opacity > 0 && text !== ""
                                    holdMs: 6000
                                    text: main.rndList.count > 0 ? main.rndMsgText : ""
                                    onShown: main.rndMsgShown()
                                }
                            }
                        }
                    }
                }

                NoticeToast {
                    objectName: "notice"
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    anchors.margins: mainFace.padding + 6
                    text: main.noticeText
                    onShown: main.noticeShown()
                }

                // While the message pop-up shows, the rest of the face takes no input.
                MouseArea {
                    anchors.fill: parent
                    visible: main.msgVisible
                    acceptedButtons: Qt.AllButtons
                    hoverEnabled: true
                    onWheel: (wheel) => wheel.accepted = true

                    Rectangle {
                        anchors.fill: parent
                        radius: mainFace.radius
                        color: "#66000000"
                    }
                }

                MsgPop {
                    objectName: "MsgPop1"
                    x: layout1.x
                    y: layout1.y
                    width: 256
                    height: 140
                    visible: main.msgVisible
                    text: main.msgText
                    onResult: (code) => main.MsgPop1Result(code)
                }
            }

            Item {
                id: settingGlow
                anchors.fill: settingPage
                visible: settingPage.visible
                Repeater {
                    model: [0.50, 0.26, 0.10]
                    Rectangle {
                        required property int index
                        required property real modelData
                        anchors.fill: parent
                        anchors.margins: -(index + 1)
                        radius: settingPage.radius + index + 1
                        color: "transparent"
                        border.width: 1
                        border.color: Qt.rgba(1, 1, 1, 0.9 * modelData)
                    }
                }
            }

            SettingsPage {
                id: settingPage
                objectName: "Setting"
                anchors.centerIn: parent
                visible: mainBox.shownFace === 1
            }

            MiniTile {
                id: miniTile
                objectName: "Mini"
                anchors.centerIn: parent
                visible: mainBox.shownFace === 2
                opacity: 0
            }
        }
    }

    // The face sequences. The owner says which face it wants (main.face); the scene turns the 3-D
    // layer towards the settings page and back, or shrinks it into the mini tile and out again.
    // A sequence asked for while another runs lets that one finish at once first, so no two ever
    // animate the same property.
    QtObject {
        id: faces

        readonly property var sequences: [toSettings, fromSettings, toMini, fromMini]

        function go(target) {
            for (const sequence of sequences)
                if (sequence.running) sequence.complete()
            const shown = mainBox.shownFace
            if (shown === 0 && target === 1) toSettings.start()
            else if (shown === 1 && target === 0) fromSettings.start()
            else if (shown === 0 && target === 2) toMini.start()
            else if (shown === 2 && target === 0) fromMini.start()
        }
    }

    Connections {
        target: main
        function onFaceChanged() { faces.go(main.face) }
    }

    // To the settings page: back in depth while turning a quarter, swap the faces edge-on, then the
    // window steps 50 px right and the layer comes forward through the last quarter of the turn.
    SequentialAnimation {
        id: toSettings
        ParallelAnimation {
            NumberAnimation { target: mainBox; property: "positionZ"; to: 300; duration: 300; easing.type: Easing.Linear }
            NumberAnimation { target: mainBox; property: "rotateAngleY"; to: 90; duration: 300; easing.type: Easing.Linear }
        }
        ScriptAction {
            script: {
                mainBox.shownFace = 1
                mainBox.rotateAngleY = 270
                window.x += 50
            }
        }
        ParallelAnimation {
            NumberAnimation { target: mainBox; property: "positionZ"; from: 300; to: 0; duration: 300; easing.type: Easing.Linear }
            NumberAnimation { target: mainBox; property: "rotateAngleY"; from: 270; to: 360; duration: 300; easing.type: Easing.Linear }
        }
        // A whole turn is no turn: the way back then turns a quarter, not a turn and a quarter.
        ScriptAction { script: mainBox.rotateAngleY = 0 }
    }

    // Back from the settings page: the mirror image.
    SequentialAnimation {
        id: fromSettings
        ParallelAnimation {
            NumberAnimation { target: mainBox; property: "positionZ"; to: 300; duration: 300; easing.type: Easing.Linear }
            NumberAnimation { target: mainBox; property: "rotateAngleY"; to: -90; duration: 300; easing.type: Easing.Linear }
        }
        ScriptAction {
            script: {
                mainBox.shownFace = 0
                mainBox.rotateAngleY = 90
                window.x -= 50
            }
        }
        ParallelAnimation {
            NumberAnimation { target: mainBox; property: "positionZ"; from: 300; to: 0; duration: 300; easing.type: Easing.Linear }
            NumberAnimation { target: mainBox; property: "rotateAngleY"; from: 90; to: 0; duration: 300; easing.type: Easing.Linear }
        }
    }

    // Into mini mode, every step after the one before: the lists fade, the layer shrinks to a strip
    // and then to a tile (overshooting a little), the face fades and the tile appears.
    SequentialAnimation {
        id: toMini
        NumberAnimation { target: layout2; property: "opacity"; to: 0; duration: 300; easing.type: Easing.Linear }
        NumberAnimation { target: mainBox; property: "height"; to: 100; duration: 400; easing.type: Easing.OutBack }
        ScriptAction {
            script: {
                mainBox.layout2Shown = false
                mainBox.layout1Shown = false
            }
        }
        NumberAnimation { target: mainBox; property: "width"; to: 150; duration: 400; easing.type: Easing.OutBack }
        NumberAnimation { target: mainFace; property: "opacity"; to: 0; duration: 300; easing.type: Easing.Linear }
        ScriptAction {
            script: {
                miniTile.opacity = 0
                mainBox.shownFace = 2
            }
        }
        NumberAnimation { target: miniTile; property: "opacity"; from: 0; to: 0.85; duration: 300; easing.type: Easing.Linear }
        ScriptAction {
            script: {
                // The tile with its glow.
                const at = miniTile.mapToItem(null, -3, -3)
                window.inputRegion = Qt.rect(Math.floor(at.x), Math.floor(at.y), miniTile.width + 6, miniTile.height + 6)
            }
        }
    }

    // Out of mini mode: the way in, backwards.
    SequentialAnimation {
        id: fromMini
        ScriptAction { script: window.inputRegion = Qt.rect(0, 0, 0, 0) }
        NumberAnimation { target: miniTile; property: "opacity"; to: 0; duration: 300; easing.type: Easing.Linear }
        ScriptAction { script: mainBox.shownFace = 0 }
        NumberAnimation { target: mainFace; property: "opacity"; from: 0; to: 1; duration: 300; easing.type: Easing.Linear }
        NumberAnimation { target: mainBox; property: "width"; from: 150; to: 290; duration: 400; easing.type: Easing.InBack }
        ScriptAction { script: mainBox.layout1Shown = true }
        NumberAnimation { target: mainBox; property: "height"; from: 100; to: 418; duration: 400; easing.type: Easing.InBack }
        ScriptAction {
            script: {
                layout2.opacity = 0
                mainBox.layout2Shown = true
            }
        }
        NumberAnimation { target: layout2; property: "opacity"; from: 0; to: 1; duration: 300; easing.type: Easing.Linear }
    }
}
