import QtQuick 2.15
import "qrc:///basic"
import QtQuick.Controls 1.4
import sl.app.updater 1.0
import sl.watch.styles 1.0

// The program's own update: the offer, the download, or what went wrong.
BackgroundPageTemplate {
    id: page

    // The application updater (set by the window).
    property var updater: null
    readonly property int updaterState: updater ? updater.state : AppUpdater.Idle
    readonly property string message: messageFor(updaterState, updater ? updater.version : "",
                                                  updater ? updater.error : AppUpdater.Successful)

    function messageFor(state, version, error) {
        switch (state) {
        case AppUpdater.UpdateAvailable:
            return "A new version " + version
                    + " of the Corvane app is available\nWould you like to install the update?"
        case AppUpdater.Downloading:
            return "Please wait until your update is downloaded and installed"
        case AppUpdater.Error:
            switch (error) {
            case AppUpdater.DownloadError:
                return "The update could not be downloaded from the Corvane service"
            case AppUpdater.WriteError:
                return "The update could not be saved on this computer"
            case AppUpdater.StartUpdaterError:
                return "The updater could not be started"
            }
            return "An error occurred during update application"
        }
        return ""
    }

    objectName: "updateProgressPage"

    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 200
        source: "images/UpdateLogo.png"
    }
    MediumText {
        objectName: "updateMessage"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 400
        horizontalAlignment: Text.AlignHCenter
        font.pixelSize: Helper.fontSizeScale(20)
        text: page.message
    }
    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 490
        spacing: 30
        visible: page.updaterState === AppUpdater.UpdateAvailable
        Button {
            objectName: "laterButton"
            text: "Later"
            style: GlobalStyles.newButtonStyle
            onClicked: page.updater.userAction(AppUpdater.DiscardUpdate)
        }
        Button {
            objectName: "updateButton"
            text: "Update"
            style: GlobalStyles.newButtonStyle
            onClicked: page.updater.userAction(AppUpdater.ApplyUpdate)
        }
    }
    ProgressBar {
        objectName: "downloadProgress"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 490
        width: 500
        visible: page.updaterState === AppUpdater.Downloading
        minimumValue: 0
        maximumValue: 100
        // Without a total from the server the bar stays indeterminate.
        indeterminate: page.updater !== null && page.updater.progress < 0
        value: page.updater && page.updater.progress >= 0 ? page.updater.progress : 0
        style: GlobalStyles.progressBarStyle
        Behavior on value { NumberAnimation { duration: 200 } }
    }
}
