import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A combo box that shows `placeholderText` until the user has chosen an entry.
ComboBox {
    id: box

    property string placeholderText
    property bool chosen: false

    implicitWidth: 200
    currentIndex: -1
    style: GlobalStyles.comboBoxRegistrationStyle
    onActivated: chosen = true

    MediumText {
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        visible: !box.chosen
        text: box.placeholderText
        color: GlobalStyles.fontDarkColor
        font.pixelSize: Helper.fontSizeScale(13)
    }
}
