import QtQuick 2.15
import QtQuick.Controls.Styles 1.4
import sl.watch.styles 1.0

// The drop-down style of the light combo boxes.
ComboBoxStyle {
    background: Rectangle {
        implicitWidth: 170
        implicitHeight: 30
        radius: GlobalStyles.controlMainBackGroundRadius
        color: control.hovered ? GlobalStyles.controlActiveBackGroundColor
                               : GlobalStyles.controlMainBackGroundColor
        border.width: GlobalStyles.controlBorderWidth
        border.color: GlobalStyles.controlMainBorderColor
        Image {
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            source: "qrc:///basic/images/combobox_button.png"
        }
    }
    label: MediumText {
        verticalAlignment: Text.AlignVCenter
        text: control.currentText
        font.pixelSize: Helper.fontSizeScale(13)
        color: control.hovered ? GlobalStyles.fontActiveColor : GlobalStyles.fontMainColor
    }
}
