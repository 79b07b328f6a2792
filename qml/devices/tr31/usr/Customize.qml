import QtQuick 2.15
import sl.watch.styles 1.0
import "qrc:///basic"

// The custom backlight, field by field; Cancel puts back what the fields had on opening.
Item {
    id: page

    property var host: null
    readonly property var fields: [
        { "label": "HOURS", "name": "indicBack_hh" },
        { "label": "MINUTES", "name": "indicBack_mminute" },
        { "label": "DAY", "name": "indicBack_dd" },
        { "label": "MONTH", "name": "indicBack_mmonth" },
        { "label": "BATTERY", "name": "indicBackBatChg" }
    ]
    readonly property var overlays: ["", "tr31_customize_led_r.png", "tr31_customize_led_b.png",
        "tr31_customize_led_g.png", "tr31_customize_led_p.png", "tr31_customize_led_y.png",
        "tr31_customize_led_c.png", "tr31_customize_led_w.png"]
    property var remembered: ({})
    // The entry position shown over the picture: the last box picked or hovered.
    property int overlayIndex: 0

    function remember() {
        var values = {}
        for (var i = 0; i < fields.length; ++i)
            values[fields[i].name] = host.value(fields[i].name)
        remembered = values
    }

    function restore() {
        for (var i = 0; i < fields.length; ++i) {
            var v = remembered[fields[i].name]
            if (v !== undefined)
                host.write(fields[i].name, v)
        }
    }

    objectName: "customizePage"
    onHostChanged: {
        if (host)
            remember()
    }

    Title2Text {
        x: 60
        y: 40
        text: "CUSTOMIZE LIGHT"
    }
    Column {
        x: 60
        y: 100
        spacing: 12
        Repeater {
            model: page.fields
            Row {
                spacing: 12
                z: page.fields.length - index
                CaptionText {
                    width: 110
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData.label
                    font.pixelSize: Helper.fontSizeScale(12)
                }
                MySimpleComboBoxModelBased {
                    objectName: "field_" + modelData.name
                    paramName: modelData.name
                    entries: page.host ? page.host.lists.fieldColour : []
                    onPreviewValueChanged: page.overlayIndex = Math.max(0, previewValue)
                }
            }
        }
    }
    Item {
        x: 480
        y: 60
        width: picture.width
        height: picture.height
        Image {
            id: picture

            source: "images/Tr31Customize.png"
        }
        Image {
            id: overlayImage

            visible: false
            source: page.overlays[page.overlayIndex] ? "images/" + page.overlays[page.overlayIndex]
                                                     : ""
        }
        MyShaderObject {
            anchors.fill: picture
            source: overlayImage
            visible: overlayImage.source != "" && GraphicsInfo.api !== GraphicsInfo.Software
        }
        Image {
            anchors.fill: picture
            source: overlayImage.source
            visible: overlayImage.source != "" && GraphicsInfo.api === GraphicsInfo.Software
        }
    }
    Row {
        x: 60
        y: 420
        spacing: 20
        FilamentColoredButton {
            objectName: "confirmButton"
            text: "Confirm"
            onClicked: page.host.closeOverlay()
        }
        FilamentColoredButton {
            objectName: "cancelButton"
            text: "Cancel"
            onClicked: {
                page.restore()
                page.host.closeOverlay()
            }
        }
    }
}
