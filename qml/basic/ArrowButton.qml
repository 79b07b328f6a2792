import QtQuick 2.15

// An arrow that can be clicked; the image points up and is turned by `direction`.
Item {
    id: button

    property int direction: ArrowButton.Up
    property bool highlighted: false

    signal clicked

    enum Direction { Up, Right, Down, Left }

    implicitWidth: 24
    implicitHeight: 24
    opacity: enabled ? (area.pressed ? 0.6 : 1) : 0.3

    Image {
        anchors.centerIn: parent
        source: button.highlighted || area.containsMouse ? "qrc:///basic/images/arrow_01.png"
                                                          : "qrc:///basic/images/arrow.png"
        rotation: button.direction * 90
    }
    MouseArea {
        id: area

        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }
}
