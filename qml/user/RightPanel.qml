import QtQuick 2.15
import "qrc:///basic"

// The device area's content: the 990-pixel area right of the menu, loading the page of the
// gadget's type.
Item {
    id: panel

    property alias source: content.source
    property alias item: content.item

    width: 990
    height: 800

    Loader {
        id: content

        objectName: "deviceContent"
        anchors.fill: parent
    }
}
