import QtQuick 2.15
import sl.watch.styles 1.0

// A ring the user drags round to pick a value between `from` and `to`.
Item {
    id: slider

    property real from: 0
    property real to: 100
    property real value: 0
    property real lineWidth: 6

    signal moved(real value)

    implicitWidth: 120
    implicitHeight: 120
    onValueChanged: ring.requestPaint()

    function setFromPoint(x, y) {
        var angle = Math.atan2(x - width / 2, height / 2 - y)
        if (angle < 0)
            angle += 2 * Math.PI
        value = from + (to - from) * angle / (2 * Math.PI)
        moved(value)
    }

    Canvas {
        id: ring

        anchors.fill: parent
        onPaint: {
            var ctx = getContext("2d")
            var r = Math.min(width, height) / 2 - slider.lineWidth
            var share = (slider.value - slider.from) / Math.max(1e-9, slider.to - slider.from)
            ctx.reset()
            ctx.lineWidth = slider.lineWidth
            ctx.strokeStyle = GlobalStyles.lightLineColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, r, 0, 2 * Math.PI)
            ctx.stroke()
            ctx.strokeStyle = GlobalStyles.themeColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, r, -Math.PI / 2, -Math.PI / 2 + 2 * Math.PI * share)
            ctx.stroke()
        }
    }
    MouseArea {
        anchors.fill: parent
        onPressed: slider.setFromPoint(mouse.x, mouse.y)
        onPositionChanged: slider.setFromPoint(mouse.x, mouse.y)
    }
}
