import QtQuick 2.15
import sl.watch.styles 1.0

// Emphasised small text.
Text {
    color: "white"
    font.family: GlobalStyles.boldFamily
    font.pixelSize: Helper.fontSizeScale(12)
    font.bold: true
}
