import QtQuick 2.15

// A frame round a control that turns red and shows `errorText` while `error` is set.
Item {
    id: frame

    property bool error: false
    property string errorText

    implicitHeight: 30
    implicitWidth: 200

    Rectangle {
        anchors.fill: parent
        anchors.margins: -2
        radius: 10
        color: "transparent"
        border.color: "#ff4040"
        visible: frame.error
    }
    Text {
        anchors.top: parent.bottom
        anchors.topMargin: 4
        visible: frame.error
        text: frame.errorText
        color: "#ff4040"
        font.pixelSize: Helper.fontSizeScale(11)
    }
}
