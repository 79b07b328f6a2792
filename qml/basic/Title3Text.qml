import QtQuick 2.15
import sl.watch.styles 1.0

// Small headings.
Text {
    color: "white"
    font.family: GlobalStyles.titleFamily
    font.pixelSize: Helper.fontSizeScale(14)
}
