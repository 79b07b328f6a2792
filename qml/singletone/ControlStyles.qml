import QtQuick 2.15
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import sl.watch.styles 1.0

// The control styles GlobalStyles offers, apart from it because they need Qt Quick Controls 1,
// which the first page does not: GlobalStyles creates this the first time another page is shown.
Item {
    id: controlStyles

    property Component comboboxStyle: ComboBoxStyle {
        background: Rectangle {
            implicitWidth: 160
            implicitHeight: 30
            radius: GlobalStyles.controlMainBackGroundRadius
            color: control.hovered ? GlobalStyles.controlActiveBackGroundColor
                                   : GlobalStyles.controlMainBackGroundColor
            border.width: GlobalStyles.controlBorderWidth
            border.color: GlobalStyles.controlMainBorderColor
            Behavior on color { ColorAnimation { duration: GlobalStyles.colorAnimationDelay } }
            Image {
                anchors.right: parent.right
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                source: "qrc:///basic/images/combobox_button.png"
            }
        }
        label: Text {
            verticalAlignment: Text.AlignVCenter
            text: control.currentText
            font.family: GlobalStyles.mediumFamily
            font.pixelSize: 14
            color: control.hovered ? GlobalStyles.fontActiveColor : GlobalStyles.fontMainColor
        }
    }

    property Component newButtonStyleSmall: buttonStyleOf(12, 100, 26)
    property Component newButtonStyle: buttonStyleOf(15, 160, 40)
    property Component buttonStyle: buttonStyleOf(15, 140, 36)
    property Component buttonStyle2: buttonStyleOf(18, 200, 46)
    property Component leftPanelButtonStyle: ButtonStyle {
        background: Rectangle {
            implicitWidth: 190
            implicitHeight: 34
            color: "transparent"
        }
        label: Text {
            verticalAlignment: Text.AlignVCenter
            text: control.text
            font.family: GlobalStyles.mediumFamily
            font.pixelSize: 14
            font.letterSpacing: 1.5
            color: control.checked ? GlobalStyles.fontSelectedColor
                                   : control.hovered ? GlobalStyles.controlHoverTextColor
                                                     : GlobalStyles.controlMainTextColor
        }
    }
    property Component buttonStyle4: buttonStyleOf(13, 120, 30)
    property Component buttonRefreshStyle: ButtonStyle {
        background: Image {
            source: "qrc:///basic/images/Refresh-icon.png"
            opacity: control.pressed ? 0.6 : control.hovered ? 1 : 0.8
        }
    }
    property Component buttonStyleArrow: arrowStyleOf("qrc:///basic/images/arrow.png")
    property Component buttonStyleArrow1: arrowStyleOf("qrc:///basic/images/arrow_01.png")

    property Component textFieldStyle: textFieldStyleOf(GlobalStyles.controlMainBorderColor, 14)
    property Component textFieldStyle2: textFieldStyleOf(GlobalStyles.controlMainTextColor, 14)
    property Component textFieldStyle3: textFieldStyleOf(GlobalStyles.themeColor, 14)
    property Component textFieldStyle4: textFieldStyleOf(GlobalStyles.lightLineColor, 12)
    property Component textFieldStyle5: textFieldStyleOf(GlobalStyles.fontSelectedColor, 18)
    property Component textFieldRegistrationStyle:
        textFieldStyleOf(GlobalStyles.controlMainBorderColor, 16)
    property Component comboBoxRegistrationStyle: comboboxStyle

    property Component checkBoxStyle: CheckBoxStyle {
        indicator: Rectangle {
            implicitWidth: 18
            implicitHeight: 18
            radius: 3
            color: "transparent"
            border.color: control.hovered ? GlobalStyles.controlBorderHoveredColor
                                          : GlobalStyles.controlMainBorderColor
            Image {
                anchors.centerIn: parent
                visible: control.checked
                source: "qrc:///basic/images/check.png"
            }
        }
        label: Text {
            text: control.text
            font.family: GlobalStyles.mediumFamily
            font.pixelSize: 14
            color: GlobalStyles.fontMainColor
        }
    }
    property Component radioButtonStyle: radioStyleOf(GlobalStyles.fontSelectedColor)
    property Component radioButtonStyle1: radioStyleOf(GlobalStyles.themeColor)
    property Component radioButtonStyle2: radioStyleOf(GlobalStyles.fontMainColor)
    property Component radioButtonStyle3: radioStyleOf(GlobalStyles.controlMainTextColor)

    property Component scrollViewStyle: ScrollViewStyle {
        transientScrollBars: true
        handle: Rectangle {
            implicitWidth: 6
            radius: 3
            color: GlobalStyles.controlMainTextColor
        }
        scrollBarBackground: Item {
            implicitWidth: 6
        }
    }
    property Component progressBarStyle: ProgressBarStyle {
        background: Rectangle {
            implicitWidth: 400
            implicitHeight: 8
            radius: 4
            color: GlobalStyles.lightLineColor
        }
        progress: Rectangle {
            radius: 4
            color: GlobalStyles.themeColor
        }
    }

    // The push buttons share one look and differ in size.
    function buttonStyleOf(pixelSize, width, height) {
        return buttonStyleComponent.createObject(controlStyles, {
                                                     "pixelSize": pixelSize,
                                                     "minWidth": width,
                                                     "minHeight": height
                                                 }).style
    }

    function arrowStyleOf(image) {
        return arrowStyleComponent.createObject(controlStyles, { "image": image }).style
    }

    function textFieldStyleOf(borderColor, pixelSize) {
        return textFieldStyleComponent.createObject(controlStyles, {
                                                        "borderColor": borderColor,
                                                        "pixelSize": pixelSize
                                                    }).style
    }

    function radioStyleOf(markColor) {
        return radioStyleComponent.createObject(controlStyles, { "markColor": markColor }).style
    }

    Component {
        id: buttonStyleComponent

        QtObject {
            id: holder

            property int pixelSize: 15
            property int minWidth: 140
            property int minHeight: 36
            property Component style: ButtonStyle {
                background: Rectangle {
                    implicitWidth: holder.minWidth
                    implicitHeight: holder.minHeight
                    radius: GlobalStyles.controlMainBackGroundRadius
                    color: !control.enabled ? "transparent"
                                            : control.pressed || control.hovered
                                              ? GlobalStyles.controlActiveBackGroundColor
                                              : GlobalStyles.controlMainBackGroundColor
                    border.width: GlobalStyles.controlBorderWidth
                    border.color: control.enabled ? GlobalStyles.controlMainBorderColor
                                                  : GlobalStyles.controlDisabledColor
                    Behavior on color {
                        ColorAnimation { duration: GlobalStyles.colorAnimationDelay }
                    }
                }
                label: Text {
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    text: control.text
                    font.family: GlobalStyles.mediumFamily
                    font.pixelSize: holder.pixelSize
                    font.letterSpacing: 1
                    color: !control.enabled ? GlobalStyles.controlDisabledColor
                                            : control.pressed || control.hovered
                                              ? GlobalStyles.controlHoverTextDarkColor
                                              : GlobalStyles.fontMainColor
                }
            }
        }
    }

    Component {
        id: arrowStyleComponent

        QtObject {
            id: holder

            property string image
            property Component style: ButtonStyle {
                background: Image {
                    source: holder.image
                    opacity: control.pressed ? 0.6 : control.hovered ? 1 : 0.8
                }
            }
        }
    }

    Component {
        id: textFieldStyleComponent

        QtObject {
            id: holder

            property color borderColor
            property int pixelSize: 14
            property Component style: TextFieldStyle {
                textColor: GlobalStyles.fontMainColor
                placeholderTextColor: GlobalStyles.fontDarkColor
                font.family: GlobalStyles.mediumFamily
                font.pixelSize: holder.pixelSize
                background: Rectangle {
                    implicitWidth: 200
                    implicitHeight: 30
                    radius: GlobalStyles.controlMainBackGroundRadius
                    color: GlobalStyles.controlMainBackGroundColor
                    border.width: GlobalStyles.controlBorderWidth
                    border.color: control.activeFocus ? GlobalStyles.themeColor : holder.borderColor
                }
            }
        }
    }

    Component {
        id: radioStyleComponent

        QtObject {
            id: holder

            property color markColor
            property Component style: RadioButtonStyle {
                indicator: Rectangle {
                    implicitWidth: 16
                    implicitHeight: 16
                    radius: 8
                    color: "transparent"
                    border.color: GlobalStyles.controlMainBorderColor
                    Rectangle {
                        anchors.fill: parent
                        anchors.margins: 4
                        radius: width / 2
                        visible: control.checked
                        color: holder.markColor
                    }
                }
                label: Text {
                    text: control.text
                    font.family: GlobalStyles.mediumFamily
                    font.pixelSize: 14
                    color: GlobalStyles.fontMainColor
                }
            }
        }
    }
}
