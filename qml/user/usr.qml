import QtQuick 2.15
import "qrc:///basic"
import sl.watch.logic 1.0
import sl.watch.styles 1.0

// The device area: the gadget type's menu on the left and its pages on the right.
Item {
    id: area

    readonly property var gadget: AppLogic.device
    readonly property var productParam: gadget && gadget.properties
                                        ? gadget.properties.productId || null : null
    readonly property int productId: productParam && productParam.value !== undefined
                                     ? productParam.value : -1
    readonly property string deviceFolder: productId === GGadget.DEVICE_GADGET_TR31
                                           ? "qrc:///devices/tr31/usr/" : "qrc:///devices/unknown/usr/"

    // The menu names the page; the content shows it.
    function connectPanels() {
        if (leftPanel.item && rightPanel.item && leftPanel.item.hasOwnProperty("page"))
            rightPanel.item.page = Qt.binding(function () { return leftPanel.item.page })
    }

    function applyTheme() {
        var tr31 = productId === GGadget.DEVICE_GADGET_TR31
        GlobalStyles.fontSelectedColor = tr31 ? "#ffae00" : "#03cc8c"
        GlobalStyles.themeColor = tr31 ? "#f7cd41" : "#00e8ea"
    }

    objectName: "deviceArea"
    width: 1200
    height: 800
    onProductIdChanged: applyTheme()
    Component.onCompleted: applyTheme()
    // The theme is the gadget type's only while its area is shown.
    Component.onDestruction: {
        GlobalStyles.fontSelectedColor = "#03cc8c"
        GlobalStyles.themeColor = "#00e8ea"
    }

    Rectangle {
        anchors.fill: parent
        color: "black"
    }
    Loader {
        id: leftPanel

        objectName: "leftPanel"
        width: 210
        height: parent.height
        source: area.productId === GGadget.DEVICE_GADGET_TR31 ? area.deviceFolder + "LeftPanel.qml"
                                                              : ""
    }
    RightPanel {
        id: rightPanel

        x: 210
        visible: leftPanel.status === Loader.Ready
        source: area.deviceFolder + "main.qml"
        onItemChanged: area.connectPanels()
    }
    Connections {
        target: leftPanel
        function onLoaded() { area.connectPanels() }
    }
}
