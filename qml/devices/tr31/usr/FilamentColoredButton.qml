import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A push button in the TR-31 filament colour.
Button {
    style: GlobalStyles.newButtonStyle

    Rectangle {
        anchors.fill: parent
        radius: GlobalStyles.controlMainBackGroundRadius
        color: "transparent"
        border.color: parent.enabled ? GlobalStyles.fontSelectedColor : "transparent"
    }
}
