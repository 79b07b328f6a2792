import QtQuick 2.15
import sl.watch.styles 1.0

// One seven-segment digit drawn from bars; `digit` outside 0 to 9 lights nothing.
Item {
    id: cell

    property int digit: 0
    property color onColor: GlobalStyles.themeColor
    property color offColor: "#1f1f1f"
    // Segments a to g of each digit.
    readonly property var segments: [0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f]
    readonly property int lit: digit >= 0 && digit <= 9 ? segments[digit] : 0
    readonly property real bar: width / 6

    implicitWidth: 30
    implicitHeight: 54

    Repeater {
        // x, y, horizontal
        model: [[1, 0, true], [5, 1, false], [5, 5, false], [1, 8, true], [0, 5, false],
                [0, 1, false], [1, 4, true]]
        Rectangle {
            x: modelData[0] * cell.bar
            y: modelData[1] * cell.height / 9
            width: modelData[2] ? 4 * cell.bar : cell.bar
            height: modelData[2] ? cell.height / 9 : 3 * cell.height / 9
            radius: cell.bar / 3
            color: (cell.lit >> index) & 1 ? cell.onColor : cell.offColor
        }
    }
}
