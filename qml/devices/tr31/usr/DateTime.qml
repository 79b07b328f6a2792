import QtQuick 2.15
import sl.watch.logic 1.0
import sl.watch.styles 1.0
import "qrc:///basic"
import "images/digits"

// The watch's clock: set it digit by digit, or let it follow the time server.
Item {
    id: page

    property var host: null
    // 0 time, 1 date; 0 the first part (hours, month), 1 the second (minutes, day).
    property int mode: 0
    property int part: 0
    readonly property var formats: [["hh", "mm"], ["MM", "dd"]]
    // Tens up, tens down, units up, units down for hours, minutes, month, day.
    readonly property var actions: [
        [[SlAppLogic.INCREMENT_HOUR_TENS, SlAppLogic.DECREMENT_HOUR_TENS,
          SlAppLogic.INCREMENT_HOUR_UNITS, SlAppLogic.DECREMENT_HOUR_UNITS],
         [SlAppLogic.INCREMENT_MINUTE_TENS, SlAppLogic.DECREMENT_MINUTE_TENS,
          SlAppLogic.INCREMENT_MINUTE_UNITS, SlAppLogic.DECREMENT_MINUTE_UNITS]],
        [[SlAppLogic.INCREMENT_MONTH_TENS, SlAppLogic.DECREMENT_MONTH_TENS,
          SlAppLogic.INCREMENT_MONTH_UNITS, SlAppLogic.DECREMENT_MONTH_UNITS],
         [SlAppLogic.INCREMENT_DAY_TENS, SlAppLogic.DECREMENT_DAY_TENS,
          SlAppLogic.INCREMENT_DAY_UNITS, SlAppLogic.DECREMENT_DAY_UNITS]]
    ]
    readonly property var dateTime: host ? host.value("dateTime") : undefined
    readonly property string shownPart: dateTime !== undefined && Helper.isDateValid(dateTime)
                                        ? Qt.formatDateTime(dateTime, formats[mode][part]) : ""
    readonly property bool syncOn: host ? host.value("syncFlag") === true : false
    readonly property var durationParams: mode === 0
                                          ? ["indicDuration_hhms", "indicDuration_mminute_ms"]
                                          : ["indicDuration_mmonth_ms", "indicDuration_dd_ms"]

    function command(which) {
        host.write("timeCmd", actions[mode][part][which])
    }

    Column {
        x: 60
        y: 40
        spacing: 18
        Repeater {
            // The two selectors: what to edit, then which part of it.
            model: [["TIME", "DATE"], page.mode === 0 ? ["HOURS", "MINUTES"] : ["MON", "DAY"]]
            Row {
                readonly property int row: index
                spacing: 10
                Repeater {
                    model: modelData
                    Rectangle {
                        readonly property bool selected: (row === 0 ? page.mode : page.part) === index
                        objectName: "select_" + modelData
                        width: 110
                        height: 30
                        radius: GlobalStyles.controlMainBackGroundRadius
                        color: selected ? GlobalStyles.controlActiveBackGroundColor : "transparent"
                        border.color: GlobalStyles.controlMainBorderColor
                        MediumText {
                            anchors.centerIn: parent
                            text: modelData
                            font.pixelSize: Helper.fontSizeScale(13)
                            color: parent.selected ? GlobalStyles.fontActiveColor
                                                   : GlobalStyles.fontMainColor
                        }
                        MouseArea {
                            anchors.fill: parent
                            onClicked: {
                                if (row === 0) {
                                    page.mode = index
                                    page.part = 0
                                } else {
                                    page.part = index
                                }
                            }
                        }
                    }
                }
            }
        }
        Row {
            spacing: 20
            Column {
                objectName: "tensArrows"
                anchors.verticalCenter: parent.verticalCenter
                spacing: 60
                visible: !page.syncOn
                ArrowButton {
                    objectName: "tensUp"
                    direction: ArrowButton.Up
                    onClicked: page.command(0)
                }
                ArrowButton {
                    objectName: "tensDown"
                    direction: ArrowButton.Down
                    onClicked: page.command(1)
                }
            }
            Tr31 {
                objectName: "timeTube"
                places: 2
                digitWidth: 90
                digitHeight: 150
                visible: page.shownPart !== ""
                value: page.shownPart !== "" ? Number(page.shownPart) : 0
            }
            Column {
                objectName: "unitsArrows"
                anchors.verticalCenter: parent.verticalCenter
                spacing: 60
                visible: !page.syncOn
                ArrowButton {
                    objectName: "unitsUp"
                    direction: ArrowButton.Up
                    onClicked: page.command(2)
                }
                ArrowButton {
                    objectName: "unitsDown"
                    direction: ArrowButton.Down
                    onClicked: page.command(3)
                }
            }
        }
    }
    Column {
        x: 560
        y: 40
        spacing: 12
        Title3Text { text: "DURATION" }
        Repeater {
            model: page.durationParams
            MySimpleComboBoxModelBased {
                objectName: "duration_" + index
                z: 2 - index
                paramName: modelData
                entries: page.host ? page.host.lists.duration : []
            }
        }
        Item { width: 1; height: 10 }
        Title3Text { text: "SYNC TIME" }
        ListButton {
            objectName: "syncButton"
            paramName: "syncFlag"
            entries: page.host ? page.host.lists.sync : []
        }
        MediumText {
            objectName: "syncWarning"
            visible: page.syncOn && page.host && !page.host.timeSync.lastUpdateOK
            color: "#ff6060"
            font.pixelSize: Helper.fontSizeScale(12)
            text: page.host ? page.host.timeSync.warning : ""
        }
        Title3Text { text: "TIME FORMAT" }
        ListButton {
            objectName: "timeFormatButton"
            paramName: "timeFormat"
            entries: page.host ? page.host.lists.timeFormat : []
        }
    }
}
