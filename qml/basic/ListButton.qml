import QtQuick 2.15
import sl.watch.styles 1.0

// A button bound to one gadget parameter that shows the matching entry's name; each click
// writes the next entry's value, wrapping round to the first.
Item {
    id: button

    property string paramName
    property var entries: []
    readonly property var param: AppLogic.device && AppLogic.device.properties
                                 ? AppLogic.device.properties[paramName] || null : null
    // Follows the parameter through its change signal.
    readonly property var paramValue: param ? param.value : undefined
    readonly property int currentIndex: indexOf(paramValue)
    readonly property string currentText: currentIndex >= 0 ? entries[currentIndex].name : ""

    function indexOf(value) {
        if (value === undefined || value === null)
            return -1
        for (var i = 0; i < entries.length; ++i) {
            if (entries[i].value == value)
                return i
        }
        return -1
    }

    function advance() {
        if (!param || entries.length === 0)
            return
        param.value = entries[(currentIndex + 1) % entries.length].value
    }

    implicitWidth: 170
    implicitHeight: 30

    Rectangle {
        anchors.fill: parent
        radius: GlobalStyles.controlMainBackGroundRadius
        color: area.pressed || area.containsMouse ? GlobalStyles.controlActiveBackGroundColor
                                                  : GlobalStyles.controlMainBackGroundColor
        border.width: GlobalStyles.controlBorderWidth
        border.color: button.param ? GlobalStyles.controlMainBorderColor
                                   : GlobalStyles.controlDisabledColor
        Behavior on color { ColorAnimation { duration: GlobalStyles.colorAnimationDelay } }
    }
    MediumText {
        objectName: "listButtonText"
        anchors.centerIn: parent
        text: button.currentText
        font.pixelSize: Helper.fontSizeScale(13)
        color: area.containsMouse ? GlobalStyles.fontActiveColor : GlobalStyles.fontMainColor
    }
    MouseArea {
        id: area

        anchors.fill: parent
        hoverEnabled: true
        enabled: button.param !== null
        onClicked: button.advance()
    }
}
