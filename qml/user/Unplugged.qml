import QtQuick 2.15
import "qrc:///basic"
import sl.watch.styles 1.0

// Shown while no watch is connected: how to connect one, and what to do when Linux keeps the
// plugged-in watch from this user.
BackgroundPageTemplate {
    id: page

    // Grants the logged-in user the watch's USB node, without a reinstall.
    readonly property string udevCommand: "echo 'SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"ffff\", "
                                          + "ATTRS{idProduct}==\"099d\", TAG+=\"uaccess\"' | "
                                          + "sudo tee /etc/udev/rules.d/60-corvane-watch.rules "
                                          + "&& sudo udevadm trigger"

    objectName: "unpluggedPage"

    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 170
        source: "images/USBLogo1.png"
    }
    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 500
        source: "images/connect1.png"
    }
    Rectangle {
        objectName: "accessHint"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 580
        width: 900
        height: hint.height + 30
        visible: AppLogic.deviceAccessDenied === true
        radius: 10
        color: "#cc17171b"
        border.color: "#ffae00"
        Column {
            id: hint

            anchors.centerIn: parent
            width: parent.width - 40
            spacing: 8
            MediumText {
                width: parent.width
                wrapMode: Text.WordWrap
                text: "The watch is plugged in, but this user may not open it. Run this once in a "
                      + "terminal, then plug the watch in again:"
            }
            TextEdit {
                objectName: "udevCommand"
                width: parent.width
                wrapMode: TextEdit.WrapAnywhere
                readOnly: true
                selectByMouse: true
                color: "#ffae00"
                font.family: "monospace"
                font.pixelSize: Helper.fontSizeScale(13)
                text: page.udevCommand
            }
        }
    }
    Text {
        objectName: "appVersion"
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        anchors.margins: 20
        color: "white"
        opacity: 0.2
        font.family: GlobalStyles.mediumFamily
        font.pixelSize: Helper.fontSizeScale(14)
        text: AppLogic.currentAppVer()
    }
}
