import QtQuick 2.15
import sl.watch.logic 1.0
import sl.watch.styles 1.0
import "qrc:///basic"

// What the watch is, and its reset to factory settings.
Item {
    id: page

    property var host: null

    Image {
        x: 540
        y: 80
        source: "images/Tr31Service.png"
    }
    Grid {
        x: 60
        y: 80
        columns: 2
        columnSpacing: 20
        rowSpacing: 16
        MediumText { text: "MODEL:"; color: GlobalStyles.controlMainTextColor }
        Column {
            MediumText { text: "TR31" }
            MediumText {
                objectName: "serviceDescription"
                text: AppLogic.device ? AppLogic.device.description : ""
            }
        }
        MediumText { text: "SERIAL-NUMBER:"; color: GlobalStyles.controlMainTextColor }
        MediumText {
            objectName: "serviceSerial"
            text: AppLogic.device ? AppLogic.device.serial.toUpperCase() : ""
        }
        MediumText { text: "FIRMWARE VERSION:"; color: GlobalStyles.controlMainTextColor }
        MediumText {
            objectName: "serviceFirmware"
            text: page.host && page.host.value("firmwareVersion") !== undefined
                  ? String(page.host.value("firmwareVersion")) : ""
        }
    }
    FilamentColoredButton {
        objectName: "resetButton"
        x: 60
        y: 320
        text: "RESET TO DEFAULTS"
        onClicked: page.host.write("deviceCommand", GGadget.DEVICE_COMMAND_RESET_TO_FACTORY)
    }
}
