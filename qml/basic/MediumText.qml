import QtQuick 2.15
import sl.watch.styles 1.0

// Body text.
Text {
    color: "white"
    font.family: GlobalStyles.mediumFamily
    font.pixelSize: Helper.fontSizeScale(15)
}
