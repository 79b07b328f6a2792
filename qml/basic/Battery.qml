import QtQuick 2.15

// A battery drawn from cells: `level` 0 to 100 lights that share of the cells.
Item {
    id: battery

    property int level: 0
    property int cells: 8

    implicitWidth: cells * 16 + 10
    implicitHeight: 40

    Rectangle {
        id: body

        width: battery.cells * 16 + 4
        height: 34
        radius: 4
        color: "transparent"
        border.color: "white"
        Row {
            anchors.fill: parent
            anchors.margins: 3
            spacing: 2
            Repeater {
                model: battery.cells
                Image {
                    source: "qrc:///basic/images/battery_element.png"
                    opacity: index < Math.ceil(battery.cells * Math.max(0, Math.min(100, battery.level)) / 100)
                             ? 1 : 0.12
                }
            }
        }
    }
    Rectangle {
        anchors.left: body.right
        anchors.verticalCenter: body.verticalCenter
        width: 4
        height: 12
        color: "white"
    }
    Image {
        anchors.top: body.bottom
        width: body.width
        source: "qrc:///basic/images/battery_mirror.png"
        opacity: 0.3
    }
}
