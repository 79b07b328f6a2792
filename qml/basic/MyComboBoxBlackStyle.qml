import QtQuick 2.15
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import sl.watch.styles 1.0

// A combo box of texts, dark with a white label, for light backgrounds.
ComboBox {
    implicitWidth: 170
    style: ComboBoxStyle {
        background: Rectangle {
            implicitHeight: 30
            radius: GlobalStyles.controlMainBackGroundRadius
            color: control.hovered ? GlobalStyles.controlHoverTextDarkColor
                                   : GlobalStyles.darkBackgroundColor
            border.color: GlobalStyles.lightLineColor
        }
        label: MediumText {
            verticalAlignment: Text.AlignVCenter
            text: control.currentText
            font.pixelSize: Helper.fontSizeScale(13)
        }
    }
}
