import QtQuick 2.15
import sl.watch.styles 1.0

// A round gauge showing how full something is: `used` of `total`, with the share in the middle.
Item {
    id: gauge

    property real used: 0
    property real total: 100
    readonly property real share: total > 0 ? Math.max(0, Math.min(1, used / total)) : 0

    implicitWidth: 120
    implicitHeight: 120
    onShareChanged: ring.requestPaint()

    Canvas {
        id: ring

        anchors.fill: parent
        onPaint: {
            var ctx = getContext("2d")
            var r = Math.min(width, height) / 2 - 5
            ctx.reset()
            ctx.lineWidth = 8
            ctx.strokeStyle = GlobalStyles.lightLineColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, r, 0, 2 * Math.PI)
            ctx.stroke()
            ctx.strokeStyle = GlobalStyles.themeColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, r, -Math.PI / 2, -Math.PI / 2 + 2 * Math.PI * gauge.share)
            ctx.stroke()
        }
    }
    Row {
        anchors.centerIn: parent
        spacing: 4
        Image {
            anchors.verticalCenter: parent.verticalCenter
            source: "qrc:///basic/images/storage-element.png"
        }
        MediumText {
            text: Math.round(gauge.share * 100) + " %"
        }
    }
}
