import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"

// A value in a thin ring with its caption below, for the TR-31 figures.
Column {
    property alias text: figure.text
    property alias caption: label.text

    spacing: 10

    Rectangle {
        anchors.horizontalCenter: parent.horizontalCenter
        width: 110
        height: 110
        radius: 55
        color: "transparent"
        border.color: GlobalStyles.themeColor
        border.width: 2
        ThinText {
            id: figure

            objectName: "circleValue"
            anchors.centerIn: parent
        }
    }
    CaptionText {
        id: label

        anchors.horizontalCenter: parent.horizontalCenter
        horizontalAlignment: Text.AlignHCenter
        color: GlobalStyles.controlMainTextColor
        font.pixelSize: Helper.fontSizeScale(12)
    }
}
