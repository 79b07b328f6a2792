import QtQuick 2.15
import sl.watch.styles 1.0

// A button drawn by a picture; it lightens under the mouse and can carry a caption.
Item {
    id: button

    property url source
    property alias text: caption.text

    signal clicked

    implicitWidth: picture.implicitWidth
    implicitHeight: picture.implicitHeight
    opacity: enabled ? 1 : 0.4

    Image {
        id: picture

        anchors.fill: parent
        source: button.source
        opacity: area.pressed ? 0.6 : area.containsMouse ? 1 : 0.85
    }
    MediumText {
        id: caption

        anchors.centerIn: parent
    }
    MouseArea {
        id: area

        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }
}
