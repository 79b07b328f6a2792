import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"

// What the buttons and the motion sensor do.
Item {
    id: page

    property var host: null
    readonly property var clicks: [
        { "label": "FIRST CLICK", "name": "eventButtonPress1" },
        { "label": "SECOND CLICK", "name": "eventButtonPress2" },
        { "label": "THIRD CLICK", "name": "eventButtonPress3" }
    ]
    readonly property var cycles: [
        { "label": "ACCELEROMETER", "name": "accelMode", "list": "accelerometer" },
        { "label": "SENSITIVITY", "name": "accelerometerSensitivity", "list": "sensitivity" },
        { "label": "PERSONALIZATION", "name": "personalization", "list": "personalization" }
    ]

    Image {
        x: 560
        y: 80
        source: "images/Tr31Settings.png"
    }
    Column {
        x: 60
        y: 40
        spacing: 12
        Title3Text { text: "BUTTON SETTINGS" }
        Repeater {
            model: page.clicks
            Row {
                spacing: 12
                z: 10 - index
                CaptionText {
                    width: 150
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData.label
                    font.pixelSize: Helper.fontSizeScale(12)
                }
                MySimpleComboBoxModelBased {
                    objectName: "click_" + modelData.name
                    width: 200
                    paramName: modelData.name
                    entries: page.host ? page.host.lists.clickEffect : []
                }
            }
        }
        Item { width: 1; height: 10 }
        Title3Text { text: "SHEDULED SWITCH ON" }
        MySimpleComboBoxModelBased {
            objectName: "scheduleBox"
            z: 5
            width: 200
            paramName: "automaticSwitchMode"
            entries: page.host ? page.host.lists.scheduledSwitchOn : []
        }
        Item { width: 1; height: 10 }
        Repeater {
            model: page.cycles
            Row {
                spacing: 12
                CaptionText {
                    width: 150
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData.label
                    font.pixelSize: Helper.fontSizeScale(12)
                }
                ListButton {
                    objectName: "cycle_" + modelData.name
                    width: 200
                    paramName: modelData.name
                    entries: page.host ? page.host.lists[modelData.list] : []
                }
            }
        }
    }
}
