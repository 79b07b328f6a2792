import QtQuick 2.15
import sl.watch.logic 1.0

// The TR-31 content area. Pages read and write the watch's parameters through `value` and
// `write`, so that a parameter the watch lacks shows nothing and writes nothing.
Rectangle {
    id: container

    // The page the menu chose; `overlay` (the customize page) may stand in for it.
    property string page: "General.qml"
    property string overlay: ""
    readonly property var props: AppLogic.device && AppLogic.device.properties
                                 ? AppLogic.device.properties : ({})
    property alias timeSync: timeSync
    // The choices the pages offer: text shown and value written.
    readonly property var lists: ({
        "duration": entries([["0.300", 300], ["0.500", 500], ["1.000", 1000], ["2.000", 2000],
                             ["4.000", 4000]]),
        "backlight": entries([["CUSTOM", 0], ["RED", 1], ["BLUE", 2], ["GREEN", 5],
                              ["PURPLE", 3], ["DISABLED", 4]]),
        "fieldColour": entries([["DISABLED", 0], ["RED", 1], ["BLUE", 2], ["GREEN", 4],
                                ["PURPLE", 3]]),
        "switchOnEffect": entries([["CLASSIC", 0], ["FLASH", 1]]),
        "clickEffect": entries([["HOURS THEN MINUTES", 1], ["DAYS THEN MONTH", 2],
                                ["BATTERY %", 3]]),
        "scheduledSwitchOn": entries([["DISABLED", 0], ["EVERY 5 MINUTES", 1],
                                      ["EVERY 10 MINUTES", 2], ["EVERY 15 MINUTES", 3],
                                      ["EVERY 30 MINUTES", 4], ["EVERY 1 HOUR", 5]]),
        "accelerometer": entries([["DISABLED", 0], ["SHOW TIME", 1], ["SHOW DATE", 2],
                                  ["CHARGE", 4]]),
        "sensitivity": entries([["LOW", 0], ["MEDIUM", 1], ["HIGH", 2]]),
        "personalization": entries([["LEFT HANDED", 0], ["RIGHT HANDED", 1]]),
        "sync": entries([["OFF", false], ["ON", true]]),
        "timeFormat": entries([["12 HOURS", GGadget.DEVICE_TIME_FORMAT_12H],
                               ["24 HOURS", GGadget.DEVICE_TIME_FORMAT_24H]])
    })

    function entries(pairs) {
        return pairs.map(function (pair) { return { "name": pair[0], "value": pair[1] } })
    }

    function value(name) {
        var node = props[name]
        return node ? node.value : undefined
    }

    function write(name, v) {
        var node = props[name]
        if (node)
            node.value = v
    }

    // A whole number: the parameter divided by `divisor` and rounded; "" when missing.
    function rounded(name, divisor) {
        var v = value(name)
        return v === undefined ? "" : String(Math.round(v / (divisor || 1)))
    }

    function fixed(name, divisor, decimals) {
        var v = value(name)
        return v === undefined ? "" : (v / divisor).toFixed(decimals)
    }

    function openOverlay(file) { overlay = file }
    function closeOverlay() { overlay = "" }

    width: 990
    height: 590
    color: "black"
    onPageChanged: overlay = ""

    TimeSync {
        id: timeSync

        enabled: container.value("syncFlag") === true
        interval: 60000
        onTriggered: {
            container.write("timeOffset", offset)
            container.write("syncTime", datetime)
        }
    }
    Image {
        anchors.fill: parent
        source: "qrc:///user/images/BackgroundNoise.png"
    }
    Loader {
        id: pageLoader

        objectName: "tr31Page"
        anchors.fill: parent
        source: container.overlay !== "" ? container.overlay : container.page
        onLoaded: item.host = container
    }
}
