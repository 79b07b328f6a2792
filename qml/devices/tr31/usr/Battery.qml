import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"
import "images/digits"

// The battery: how long it lasts, its last charge and its health.
Item {
    id: page

    property var host: null
    readonly property var level: host ? host.value("batteryLevel") : undefined

    Grid {
        x: 60
        y: 60
        columns: 2
        columnSpacing: 50
        rowSpacing: 20
        Title2Text { text: "LIFETIME" }
        Item { width: 1; height: 1 }
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
        Title2Text { text: "LAST CHARGE" }
        Item { width: 1; height: 1 }
        NamedParam {
            objectName: "lastChargeDaysAgo"
            name: "DAYS AGO"
            value: page.host ? page.host.rounded("lastChargeDaysAgo", 1) : ""
        }
        NamedParam {
            objectName: "lastChargeLevel"
            name: "% OF BATTERY CHARGED"
            value: page.host ? page.host.rounded("lastChargeLevel", 1) : ""
        }
        Title2Text { text: "PARAMETERS" }
        Item { width: 1; height: 1 }
        NamedParam {
            objectName: "batteryVoltage"
            name: "BATTERY VOLTAGE"
            value: page.host ? page.host.fixed("batteryVoltage", 1000, 2) : ""
        }
        NamedParam {
            objectName: "batteryChargeCycles"
            name: "CHARGE CYCLES"
            value: page.host ? page.host.rounded("batteryChargeCycles", 1) : ""
        }
    }
    Tr31 {
        objectName: "batteryTube"
        x: 600
        y: 150
        places: 2
        digitWidth: 120
        digitHeight: 200
        visible: page.level !== undefined
        value: page.level !== undefined ? Math.min(page.level, 99) : 0
        Behavior on value { NumberAnimation { duration: 1000; easing.type: Easing.OutExpo } }
    }
}
