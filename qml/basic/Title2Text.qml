import QtQuick 2.15
import sl.watch.styles 1.0

// Section headings.
Text {
    color: "white"
    font.family: GlobalStyles.titleFamily
    font.pixelSize: Helper.fontSizeScale(18)
}
