import QtQuick 2.15
import sl.watch.styles 1.0

// Large light figures.
Text {
    color: "white"
    font.family: GlobalStyles.thinFamily
    font.pixelSize: Helper.fontSizeScale(30)
}
