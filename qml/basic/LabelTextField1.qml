import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A captioned text field in the plain style.
Column {
    property alias label: caption.text
    property alias text: field.text
    property alias placeholderText: field.placeholderText
    property alias echoMode: field.echoMode
    property alias validator: field.validator
    property alias field: field

    signal accepted

    spacing: 6

    CaptionText {
        id: caption

        color: GlobalStyles.controlMainTextColor
        font.pixelSize: Helper.fontSizeScale(12)
    }
    TextField {
        id: field

        width: parent.width
        style: GlobalStyles.textFieldStyle
        onAccepted: parent.accepted()
    }
}
