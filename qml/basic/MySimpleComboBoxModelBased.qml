import QtQuick 2.15
import sl.watch.styles 1.0

// A drop-down list bound to one gadget parameter: shows the entry whose value the parameter
// holds, writes the picked entry's value, and while open publishes the hovered entry's index
// as `previewValue` so that pictures can preview it.
Item {
    id: box

    property string paramName
    // Entries as {"name": text shown, "value": value written}.
    property var entries: []
    readonly property var param: AppLogic.device && AppLogic.device.properties
                                 ? AppLogic.device.properties[paramName] || null : null
    // Follows the parameter through its change signal.
    readonly property var paramValue: param ? param.value : undefined
    readonly property int currentIndex: indexOf(paramValue)
    readonly property string currentText: currentIndex >= 0 ? entries[currentIndex].name : ""
    property int previewValue: popup.visible && list.hoveredIndex >= 0 ? list.hoveredIndex
                                                                       : currentIndex
    property alias popupVisible: popup.visible

    signal activated(int index)

    function indexOf(value) {
        if (value === undefined || value === null)
            return -1
        for (var i = 0; i < entries.length; ++i) {
            if (entries[i].value == value)
                return i
        }
        return -1
    }

    function pick(index) {
        popup.visible = false
        if (!param || index < 0 || index >= entries.length)
            return
        param.value = entries[index].value
        activated(index)
    }

    implicitWidth: 170
    implicitHeight: 30
    z: popup.visible ? 100 : 0

    Rectangle {
        anchors.fill: parent
        radius: GlobalStyles.controlMainBackGroundRadius
        color: area.containsMouse ? GlobalStyles.controlActiveBackGroundColor
                                  : GlobalStyles.controlMainBackGroundColor
        border.width: GlobalStyles.controlBorderWidth
        border.color: box.enabled && box.param ? GlobalStyles.controlMainBorderColor
                                               : GlobalStyles.controlDisabledColor
        MediumText {
            objectName: "comboText"
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: box.currentText
            font.pixelSize: Helper.fontSizeScale(13)
            color: area.containsMouse ? GlobalStyles.fontActiveColor : GlobalStyles.fontMainColor
        }
        Image {
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            source: "qrc:///basic/images/combobox_button.png"
            rotation: popup.visible ? 180 : 0
        }
        MouseArea {
            id: area

            anchors.fill: parent
            hoverEnabled: true
            enabled: box.param !== null
            onClicked: popup.visible = !popup.visible
        }
    }
    Rectangle {
        id: popup

        y: box.height + 2
        width: box.width
        height: list.contentHeight + 8
        visible: false
        radius: GlobalStyles.controlMainBackGroundRadius
        color: GlobalStyles.darkBackgroundColor
        border.color: GlobalStyles.controlMainBorderColor
        ListView {
            id: list

            property int hoveredIndex: -1

            anchors.fill: parent
            anchors.margins: 4
            interactive: false
            model: box.entries
            delegate: Rectangle {
                objectName: "entry_" + index
                width: list.width
                height: 26
                radius: 6
                color: entryArea.containsMouse ? GlobalStyles.controlActiveBackGroundColor
                                               : "transparent"
                MediumText {
                    anchors.left: parent.left
                    anchors.leftMargin: 8
                    anchors.verticalCenter: parent.verticalCenter
                    text: modelData.name
                    font.pixelSize: Helper.fontSizeScale(13)
                    color: entryArea.containsMouse ? GlobalStyles.fontActiveColor
                                                   : index === box.currentIndex
                                                     ? GlobalStyles.fontSelectedColor
                                                     : GlobalStyles.fontMainColor
                }
                MouseArea {
                    id: entryArea

                    anchors.fill: parent
                    hoverEnabled: true
                    onContainsMouseChanged: {
                        if (containsMouse)
                            list.hoveredIndex = index
                        else if (list.hoveredIndex === index)
                            list.hoveredIndex = -1
                    }
                    onClicked: box.pick(index)
                }
            }
        }
    }
}
