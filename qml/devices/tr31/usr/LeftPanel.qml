import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0
import "qrc:///basic"

// The TR-31 menu: what the watch is, and the pages to pick from.
Item {
    id: panel

    readonly property var entries: [
        { "name": "GENERAL", "file": "General.qml" },
        { "name": "BATTERY", "file": "Battery.qml" },
        { "name": "INDICATION", "file": "Indication.qml" },
        { "name": "TIME AND DATE", "file": "DateTime.qml" },
        { "name": "SETTINGS", "file": "Settings.qml" },
        { "name": "STATISTICS", "file": "Statistics.qml" },
        { "name": "SERVICE INFO", "file": "Service.qml" }
    ]
    property int currentIndex: 0
    readonly property string page: currentIndex >= 0 && currentIndex < entries.length
                                   ? entries[currentIndex].file : ""

    width: 210
    height: 800

    // The one rule of the menu: the entry shown is the entry picked; out-of-range picks stay at
    // the ends.
    function select(index) {
        currentIndex = Math.max(0, Math.min(entries.length - 1, index))
    }

    Rectangle {
        anchors.fill: parent
        color: GlobalStyles.darkBackgroundColor
    }
    Column {
        x: 24
        y: 40
        spacing: 4
        Title3Text {
            text: "CORVANE"
            font.pixelSize: Helper.fontSizeScale(12)
            font.letterSpacing: 3
        }
        Title1Text {
            text: "TR-31"
        }
        Title2Text {
            text: "Watch"
        }
        MediumText {
            objectName: "gadgetDescription"
            width: 170
            wrapMode: Text.WordWrap
            color: GlobalStyles.fontDarkColor
            font.pixelSize: Helper.fontSizeScale(12)
            text: AppLogic.device ? AppLogic.device.description : ""
        }
    }
    Column {
        x: 10
        y: 220
        spacing: 2
        Repeater {
            model: panel.entries
            Button {
                objectName: "menu_" + modelData.file
                text: modelData.name
                // Not checkable: a click on a checkable button would toggle checked and so
                // break this binding, leaving stale or missing highlights.
                checked: index === panel.currentIndex
                style: GlobalStyles.leftPanelButtonStyle
                activeFocusOnPress: true
                onClicked: panel.select(index)
                Keys.onUpPressed: panel.select(panel.currentIndex - 1)
                Keys.onDownPressed: panel.select(panel.currentIndex + 1)
                Rectangle {
                    // Marks the page on show.
                    anchors.right: parent.left
                    anchors.rightMargin: 2
                    anchors.verticalCenter: parent.verticalCenter
                    width: 3
                    height: 20
                    visible: parent.checked
                    color: GlobalStyles.fontSelectedColor
                }
            }
        }
    }
    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 30
        source: "qrc:///user/images/G.png"
    }
}
