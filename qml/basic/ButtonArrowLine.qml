import QtQuick 2.15
import sl.watch.styles 1.0

// A text button with an arrow at its right end and a line under it, for "go to" rows.
Item {
    id: button

    property alias text: label.text

    signal clicked

    implicitWidth: 220
    implicitHeight: 36

    MediumText {
        id: label

        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        color: area.containsMouse ? GlobalStyles.fontSelectedColor : GlobalStyles.fontMainColor
    }
    Image {
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        source: "qrc:///basic/images/arrow.png"
        rotation: 90
    }
    HorizontalLine {
        anchors.bottom: parent.bottom
        width: parent.width
    }
    MouseArea {
        id: area

        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }
}
