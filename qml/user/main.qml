import QtQuick 2.15
import QtQuick.Window 2.15
import Qt.labs.platform 1.1 as Platform
import sl.watch.logic 1.0
import sl.app.updater 1.0
import sl.watch.styles 1.0

// The one window: a fixed-size canvas scaled to the screen, the notification-area icon, and
// the page switcher that picks a full-window page from the program's state.
Window {
    id: window

    // The design canvas everything is laid out on.
    readonly property int canvasWidth: 1200
    readonly property int canvasHeight: 800
    readonly property var fit: sizeFor(Screen.width, Screen.height)
    readonly property var gadget: AppLogic.device
    readonly property bool gadgetBasicInit: gadget ? gadget.isBasicInit : false
    readonly property bool gadgetAuthorized: gadget ? gadget.isAuthorized : false
    readonly property string chosenPage: pageFor(AppLogic.isUpdated, appUpdater.state,
                                                 gadget !== null, gadgetBasicInit,
                                                 gadgetAuthorized, fwUpdater.isUpdateAvailable)
    property alias taskBar: taskBar
    property alias appUpdater: appUpdater
    property alias firmwareUpdater: fwUpdater
    property alias pageLoader: pages

    // The window's size and scale for a screen of w × h.
    function sizeFor(w, h) {
        var width, height
        if (w / h > 1.5) {
            height = 0.82 * h
            width = 1.5 * height
        } else {
            width = 0.82 * w
            height = width / 1.5
        }
        if (height > canvasHeight) {
            height = canvasHeight
            width = canvasWidth
        } else if (width > canvasWidth) {
            width = canvasWidth
            height = canvasHeight
        }
        return {
            "width": width,
            "height": height,
            "scaleRatio": Math.max(height / canvasHeight, width / canvasWidth)
        }
    }

    // The page for the program's state; "" keeps the page shown before.
    function pageFor(isUpdated, updaterState, hasGadget, basicInit, authorized, firmwareOffered) {
        if (isUpdated)
            return "qrc:///user/UpdateCompletePage.qml"
        switch (updaterState) {
        case AppUpdater.UpdateAvailable:
        case AppUpdater.Downloading:
        case AppUpdater.DownloadFinished:
        case AppUpdater.Error:
        case AppUpdater.ClosingApp:
            return "qrc:///user/UpdateProgressPage.qml"
        }
        if (hasGadget && basicInit) {
            if (!authorized)
                return ""
            return firmwareOffered ? "qrc:///user/FirmwareUpdatePage.qml" : "qrc:///user/usr.qml"
        }
        return "qrc:///user/Unplugged.qml"
    }

    function showRequest() {
        // Twice: some window managers only raise a window on the second request.
        for (var i = 0; i < 2; ++i) {
            window.visible = true
            window.requestActivate()
            window.raise()
            taskBar.hide = false
        }
    }

    function applyPage() {
        if (AppLogic.isUpdated)
            updateCompleteTimer.start()
        if (chosenPage === "")
            return
        if (chosenPage !== "qrc:///user/Unplugged.qml")
            GlobalStyles.fullSet = true
        if (chosenPage === "qrc:///user/usr.qml" || chosenPage === "qrc:///user/FirmwareUpdatePage.qml")
            showRequest()
        if (pages.source != chosenPage)
            pages.source = chosenPage
    }

    // Saves the whole parameter tree and tells the user where the file went.
    function saveAllParams() {
        const path = AppLogic.saveAllParams()
        savedNote.active = true
        savedNote.item.show(path !== "" ? "Parameters saved to\n" + path
                                        : "The parameters could not be saved")
    }

    function centre() {
        x = Screen.virtualX + (Screen.width - width) / 2
        y = Screen.virtualY + (Screen.height - height) / 2
    }

    title: "Corvane"
    color: "black"
    visible: true
    width: fit.width
    height: fit.height
    minimumWidth: fit.width
    maximumWidth: fit.width
    minimumHeight: fit.height
    maximumHeight: fit.height
    onFitChanged: GlobalStyles.scaleRatio = fit.scaleRatio
    onChosenPageChanged: applyPage()
    onVisibilityChanged: {
        if (visibility === Window.Hidden) {
            window.hide()
            taskBar.hide = true
        }
    }
    Component.onCompleted: {
        GlobalStyles.scaleRatio = fit.scaleRatio
        centre()
        applyPage()
        if (AppLogic.hidden)
            window.close()
    }

    TaskBarUtility {
        id: taskBar
    }
    FirmwareUpdater {
        id: fwUpdater

        appLogic: AppLogic
    }
    AppUpdater {
        id: appUpdater

        checkInterval: 180
        Component.onCompleted: userAction(AppUpdater.RequestUpdate)
        onStateChanged: {
            if (state === AppUpdater.DownloadFinished)
                userAction(AppUpdater.Update)
            else if (state === AppUpdater.ClosingApp)
                Qt.quit()
            else if (state === AppUpdater.Error)
                updaterErrorTimer.start()
        }
    }
    Timer {
        id: updaterErrorTimer

        interval: 5000
        onTriggered: {
            appUpdater.reset()
            appUpdater.checkInterval = 24 * 3600
        }
    }
    Timer {
        id: updateCompleteTimer

        interval: 3000
        onTriggered: AppLogic.isUpdated = false
    }
    Connections {
        target: AppLogic
        function onMaximize() { window.showRequest() }
    }

    Platform.SystemTrayIcon {
        id: tray

        objectName: "tray"
        icon.source: "qrc:/tray_icon.png"
        tooltip: "Corvane"
        // Shown once its icon is set; a tray without an icon logs a warning.
        Component.onCompleted: show()
        onActivated: {
            if (reason === Platform.SystemTrayIcon.Trigger && taskBar.hide)
                window.showRequest()
        }
        menu: Platform.Menu {
            objectName: "trayMenu"

            Platform.MenuItem {
                objectName: "trayQuit"
                text: "Quit"
                onTriggered: Qt.quit()
            }
            Platform.MenuItem {
                objectName: "trayShow"
                text: "Show"
                enabled: taskBar.hide
                onTriggered: window.showRequest()
            }
            Platform.MenuItem {
                objectName: "trayAutorun"
                text: "Run app on system start"
                checkable: true
                checked: AppLogic.autorun
                onTriggered: AppLogic.autorun = checked
            }
        }
    }

    // Developer tools; the program never turns them on for users.
    Shortcut {
        property string text: "&Open"

        objectName: "openPacketLogger"
        sequence: "Ctrl+O"
        enabled: AppLogic.devver === true
        onActivated: {
            packetLogger.active = true
            packetLogger.visible = !packetLogger.visible
        }
    }
    Shortcut {
        property string text: "&Save"

        objectName: "saveAllParams"
        sequence: "Ctrl+S"
        enabled: AppLogic.devver === true
        onActivated: window.saveAllParams()
    }

    Item {
        id: canvas

        width: window.canvasWidth
        height: window.canvasHeight
        transform: Scale {
            origin.x: 0
            origin.y: 0
            xScale: GlobalStyles.scaleRatio
            yScale: GlobalStyles.scaleRatio
        }

        // Made when first needed: its controls are not part of the first frame.
        Loader {
            id: savedNote

            anchors.centerIn: parent
            active: false
            source: "qrc:///basic/NotifyWindow.qml"
            onLoaded: item.objectName = "savedNote"
        }
        Loader {
            id: pages

            objectName: "pageSwitcher"
            anchors.fill: parent
            onLoaded: {
                if (item.hasOwnProperty("updater"))
                    item.updater = appUpdater
                if (item.hasOwnProperty("firmwareUpdater"))
                    item.firmwareUpdater = fwUpdater
            }
        }
        Loader {
            id: packetLogger

            anchors.fill: parent
            active: false
            visible: false
            source: "qrc:///dev/PacketLogger.qml"
        }
    }
}
