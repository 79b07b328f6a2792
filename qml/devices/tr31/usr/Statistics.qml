import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"
import "images/digits"

// What the watch has counted since it was first used.
Item {
    id: page

    property var host: null
    readonly property var figures: [
        { "caption": "START OF USE\n\nDAYS AGO", "name": "startOfUseDaysAgo", "divisor": 24 },
        { "caption": "CHARGE CICLES", "name": "batteryChargeCycles", "divisor": 1 },
        { "caption": "TUBES ON MIN", "name": "indicWorkTime", "divisor": 60 },
        { "caption": "BUTTON CLICKS", "name": "button1ClickCount", "divisor": 1 },
        { "caption": "ON/OFF SWITCHES", "name": "indicSwitchCount", "divisor": 1 }
    ]

    Grid {
        x: 60
        y: 60
        columns: 2
        columnSpacing: 60
        rowSpacing: 30
        Repeater {
            model: page.figures
            Column {
                readonly property string figure: page.host ? page.host.rounded(modelData.name,
                                                                               modelData.divisor)
                                                           : ""
                spacing: 8
                CaptionText {
                    text: modelData.caption
                    color: GlobalStyles.controlMainTextColor
                    font.pixelSize: Helper.fontSizeScale(12)
                }
                Tr31 {
                    objectName: "stat_" + modelData.name
                    digitWidth: 36
                    digitHeight: 60
                    visible: parent.figure !== ""
                    value: parent.figure !== "" ? Number(parent.figure) : 0
                }
            }
        }
    }
}
