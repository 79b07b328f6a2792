import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"
import "images/digits"

// The watch at a glance: charge, what it lasts, how much it was used.
Item {
    id: page

    property var host: null
    readonly property var level: host ? host.value("batteryLevel") : undefined

    Image {
        x: 520
        y: 80
        source: "images/Tr31General.png"
    }
    Column {
        x: 60
        y: 60
        spacing: 24
        Title2Text {
            text: "BATTERY % (99 max)"
        }
        Tr31 {
            objectName: "batteryTube"
            places: 2
            visible: page.level !== undefined
            value: page.level !== undefined ? Math.min(page.level, 99) : 0
            Behavior on value { NumberAnimation { duration: 1000; easing.type: Easing.OutExpo } }
        }
        Row {
            spacing: 50
            NamedParam {
                objectName: "predictedWTIndic"
                name: "MIN WITH TUBES ON"
                value: page.host ? page.host.rounded("predictedWTIndic", 1) : ""
            }
            NamedParam {
                objectName: "predictedWTStby"
                name: "HOURS STANDBY"
                value: page.host ? page.host.rounded("predictedWTStby", 60) : ""
            }
        }
        HorizontalLine {
            width: 400
        }
        Title2Text {
            text: "STATISTICS"
        }
        Row {
            spacing: 50
            NamedParam {
                objectName: "indicSwitchCount"
                name: "ON/OFF SWITCHES"
                value: page.host ? page.host.rounded("indicSwitchCount", 1) : ""
            }
            NamedParam {
                objectName: "indicWorkTime"
                name: "INDICATION FLASH TIME \\ (MIN)"
                value: page.host ? page.host.rounded("indicWorkTime", 60) : ""
            }
        }
    }
}
