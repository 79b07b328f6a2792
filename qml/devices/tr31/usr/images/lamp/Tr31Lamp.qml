import QtQuick 2.15
import "qrc:///basic"

// One tube of the watch as it would light: the digit as bright as `brightness` (0 to 100)
// and the backlight of colour code `backlight` added on top.
Item {
    id: lamp

    property string digit: "1"
    property real brightness: 0
    property int backlight: 0
    readonly property string backlightImage: ({
                                                  1: "led_r.png",
                                                  2: "led_b.png",
                                                  3: "led_p.png",
                                                  5: "led_g.png"
                                              })[backlight] || ""
    // The software renderer has no shaders: it lays the glow over the tube instead.
    readonly property bool additive: GraphicsInfo.api !== GraphicsInfo.Software

    width: 120
    height: 220

    Image {
        anchors.fill: parent
        source: "none.png"
    }
    Image {
        objectName: "lampDigit"
        anchors.fill: parent
        source: lamp.digit + ".png"
        opacity: 0.25 + lamp.brightness / 100
    }
    Image {
        id: glow

        objectName: "lampBacklight"
        anchors.fill: parent
        source: lamp.backlightImage
        visible: lamp.backlightImage !== "" && !lamp.additive
    }
    MyShaderObject {
        anchors.fill: parent
        source: glow
        visible: lamp.backlightImage !== "" && lamp.additive
    }
}
