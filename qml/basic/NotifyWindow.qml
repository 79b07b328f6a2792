import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A message over the page with an OK button; `show(text)` opens it.
Rectangle {
    id: note

    property alias text: message.text

    signal closed

    function show(text) {
        message.text = text
        visible = true
    }

    anchors.centerIn: parent
    width: 420
    height: 180
    visible: false
    radius: GlobalStyles.controlMainBackGroundRadius
    color: GlobalStyles.darkBackgroundColor
    border.color: GlobalStyles.controlMainBorderColor
    z: 1000

    MouseArea {
        // Keeps clicks from reaching the page below.
        anchors.fill: parent
    }
    MediumText {
        id: message

        anchors.top: parent.top
        anchors.topMargin: 30
        anchors.horizontalCenter: parent.horizontalCenter
        width: parent.width - 40
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
    }
    Button {
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        anchors.horizontalCenter: parent.horizontalCenter
        text: "OK"
        style: GlobalStyles.newButtonStyleSmall
        onClicked: {
            note.visible = false
            note.closed()
        }
    }
}
