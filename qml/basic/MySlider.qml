import QtQuick 2.15
import sl.watch.styles 1.0

// A 0 to 100 slider bound to one gadget parameter: it follows the parameter and writes
// every value the user moves it to.
Item {
    id: slider

    property string paramName
    readonly property var param: AppLogic.device && AppLogic.device.properties
                                 ? AppLogic.device.properties[paramName] || null : null
    // Follows the parameter through its change signal.
    readonly property var paramValue: param ? param.value : undefined
    readonly property int from: 0
    readonly property int to: 100
    readonly property int value: paramValue === undefined || paramValue === null
                                 ? 0 : Math.max(from, Math.min(to, paramValue))

    function setValue(v) {
        var clamped = Math.round(Math.max(from, Math.min(to, v)))
        if (!param || clamped === value)
            return
        param.value = clamped
    }

    implicitWidth: 300
    implicitHeight: 30

    Rectangle {
        id: groove

        anchors.verticalCenter: parent.verticalCenter
        x: handle.width / 2
        width: parent.width - handle.width
        height: 4
        radius: 2
        color: GlobalStyles.lightLineColor
        Rectangle {
            width: parent.width * (slider.value - slider.from) / (slider.to - slider.from)
            height: parent.height
            radius: 2
            color: GlobalStyles.themeColor
        }
    }
    Rectangle {
        id: handle

        objectName: "sliderHandle"
        anchors.verticalCenter: parent.verticalCenter
        x: groove.width * (slider.value - slider.from) / (slider.to - slider.from)
        width: 20
        height: 20
        radius: 10
        color: slider.param ? GlobalStyles.fontMainColor : GlobalStyles.controlDisabledColor
    }
    MouseArea {
        anchors.fill: parent
        enabled: slider.param !== null
        function follow(x) {
            slider.setValue(slider.from + (slider.to - slider.from) * (x - groove.x) / groove.width)
        }
        onPressed: follow(mouse.x)
        onPositionChanged: follow(mouse.x)
        onWheel: slider.setValue(slider.value + (wheel.angleDelta.y > 0 ? 1 : -1))
    }
}
