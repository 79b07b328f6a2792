import QtQuick 2.15

// A number in Nixie-tube digits. With `places` set, shorter numbers get leading zeros and
// longer ones scroll: the window of digits moves one place a second and wraps round.
Row {
    id: tube

    property real value: 0
    // 0: as many places as the number has digits.
    property int places: 0
    property real digitWidth: 60
    property real digitHeight: 100
    property int shift: 0
    readonly property string digits: String(Math.abs(Math.round(value)))
    readonly property string padded: digits.length < places
                                     ? "0".repeat(places - digits.length) + digits : digits
    readonly property int shownPlaces: places > 0 ? places : padded.length
    readonly property bool scrolling: padded.length > shownPlaces
    readonly property string shown: windowAt(shift)

    function windowAt(start) {
        if (!scrolling)
            return padded
        var text = ""
        for (var i = 0; i < shownPlaces; ++i)
            text += padded[(start + i) % padded.length]
        return text
    }

    onDigitsChanged: {
        shift = 0
        if (scrolling)
            shiftTimer.restart()
    }

    Timer {
        id: shiftTimer

        interval: 1000
        repeat: true
        running: tube.scrolling && tube.visible
        onTriggered: tube.shift = (tube.shift + 1) % tube.padded.length
    }
    Repeater {
        model: tube.shownPlaces
        Image {
            width: tube.digitWidth
            height: tube.digitHeight
            source: "tr31_digit_" + tube.shown[index] + ".png"
        }
    }
}
