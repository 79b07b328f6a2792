import QtQuick 2.15
import sl.watch.styles 1.0

// The largest, lightest figures.
Text {
    color: "white"
    font.family: GlobalStyles.ultraLightFamily
    font.pixelSize: Helper.fontSizeScale(30)
}
