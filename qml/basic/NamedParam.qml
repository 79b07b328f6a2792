import QtQuick 2.15
import sl.watch.styles 1.0

// One read-only parameter: its name above, its value below.
Column {
    property alias name: nameText.text
    property alias value: valueText.text

    spacing: 4

    CaptionText {
        id: nameText

        color: GlobalStyles.controlMainTextColor
        font.pixelSize: Helper.fontSizeScale(12)
        font.letterSpacing: 1
    }
    ThinText {
        id: valueText

        objectName: "namedParamValue"
        color: GlobalStyles.fontMainColor
    }
}
