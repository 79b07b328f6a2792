import QtQuick 2.15
import sl.watch.styles 1.0

// Captions under values and pictures.
Text {
    color: "white"
    font.family: GlobalStyles.mediumFamily
    font.pixelSize: Helper.fontSizeScale(15)
}
