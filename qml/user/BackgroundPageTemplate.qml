import QtQuick 2.15
import "qrc:///basic"

// The frame of every full-window page: the background picture and the maker's logo near the
// bottom; what the page adds goes on top.
Item {
    id: template

    default property alias content: contentArea.data
    property alias background: backgroundImage.source

    width: 1200
    height: 800

    Image {
        id: backgroundImage

        anchors.fill: parent
        source: "images/connect.png"
    }
    Image {
        objectName: "makerLogo"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 60
        source: "images/Corvane.png"
    }
    Item {
        id: contentArea

        anchors.fill: parent
    }
}
