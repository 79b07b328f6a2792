import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"
import "images/lamp"

// How the tubes light: brightness, backlight, how long each field shows, the switch-on effect.
Item {
    id: page

    property var host: null
    readonly property var lists: host ? host.lists : ({})
    readonly property var durations: [
        { "label": "HOURS", "name": "indicDuration_hhms" },
        { "label": "MINUTES", "name": "indicDuration_mminute_ms" },
        { "label": "DAYS", "name": "indicDuration_dd_ms" },
        { "label": "MONTH", "name": "indicDuration_mmonth_ms" },
        { "label": "BATTERY CHARGE", "name": "indicDurationChargems" }
    ]
    // The backlight the previews show: the hovered entry while the list is open.
    readonly property int previewBacklight: backlightBox.previewValue >= 0
                                            ? lists.backlight[backlightBox.previewValue].value : -1

    Row {
        x: 60
        y: 40
        spacing: 10
        Repeater {
            model: ["1", "6"]
            Tr31Lamp {
                objectName: "lamp" + modelData
                digit: modelData
                brightness: brightnessSlider.value
                backlight: page.previewBacklight
            }
        }
    }
    Column {
        x: 60
        y: 290
        spacing: 14
        Title3Text { text: "BRIGHTNESS" }
        MySlider {
            id: brightnessSlider

            objectName: "brightnessSlider"
            width: 250
            paramName: "indicBrightness"
        }
        NamedParam {
            objectName: "indicCurrent"
            name: "CURRENT mA"
            value: page.host ? page.host.fixed("indicCurrent", 1000, 1) : ""
        }
        Title3Text { text: "BACKLIGHT" }
        Row {
            spacing: 14
            MySimpleComboBoxModelBased {
                id: backlightBox

                objectName: "backlightBox"
                paramName: "indicBackType"
                entries: page.lists.backlight || []
            }
            FilamentColoredButton {
                objectName: "customizeButton"
                text: "CUSTOMIZE"
                enabled: backlightBox.currentIndex === 0
                onClicked: page.host.openOverlay("Customize.qml")
            }
        }
    }
    Column {
        x: 560
        y: 40
        spacing: 10
        Title3Text { text: "DURATION MS" }
        Repeater {
            model: page.durations
            Row {
                spacing: 12
                z: page.durations.length - index
                CaptionText {
                    width: 150
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData.label
                    font.pixelSize: Helper.fontSizeScale(12)
                }
                MySimpleComboBoxModelBased {
                    objectName: "duration_" + modelData.name
                    paramName: modelData.name
                    entries: page.lists.duration || []
                }
            }
        }
        Item { width: 1; height: 16 }
        Title3Text { text: "SWITCH ON EFFECT" }
        MySimpleComboBoxModelBased {
            objectName: "effectBox"
            paramName: "indicEffect"
            entries: page.lists.switchOnEffect || []
        }
    }
}
