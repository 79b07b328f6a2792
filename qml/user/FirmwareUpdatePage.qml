import QtQuick 2.15
import "qrc:///basic"
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// Newer firmware for the connected watch: skip it, or write it with progress.
BackgroundPageTemplate {
    id: page

    // The firmware updater (set by the window).
    property var firmwareUpdater: null
    readonly property bool updating: firmwareUpdater ? firmwareUpdater.isUpdating : false
    // What became of the last try, when there was one.
    readonly property string status: firmwareUpdater ? firmwareUpdater.status : ""

    objectName: "firmwareUpdatePage"

    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 200
        source: "images/UpdateLogo.png"
    }
    MediumText {
        objectName: "firmwareMessage"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 400
        font.pixelSize: Helper.fontSizeScale(20)
        text: page.updating ? "Updating in progress. Do not disconnect device"
                            : page.status !== "" ? page.status : "New firmware version is available"
    }
    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 490
        spacing: 30
        visible: !page.updating
        Button {
            objectName: "skipButton"
            text: "skip"
            style: GlobalStyles.newButtonStyle
            onClicked: page.firmwareUpdater.cancel()
        }
        Button {
            objectName: "updateFirmwareButton"
            text: "update firmware"
            style: GlobalStyles.newButtonStyle
            onClicked: page.firmwareUpdater.startUpdate()
        }
    }
    ProgressBar {
        objectName: "firmwareProgress"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 490
        width: 500
        visible: page.updating
        minimumValue: 0
        maximumValue: 100
        value: page.firmwareUpdater ? page.firmwareUpdater.progress : 0
        style: GlobalStyles.progressBarStyle
        Behavior on value { NumberAnimation { duration: 200 } }
    }
}
