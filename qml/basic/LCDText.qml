import QtQuick 2.15
import sl.watch.styles 1.0

// Figures in the seven-segment font of a liquid-crystal display.
Text {
    color: GlobalStyles.themeColor
    font.family: GlobalStyles.digiFamily
    font.pixelSize: Helper.fontSizeScale(30)
}
