pragma Singleton
import QtQuick 2.15
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4

// Shared look of every screen: values, the fonts the screens name, and control styles.
Item {
    id: styles

    property real scaleRatio: 1
    property real fontSize: 21
    property color fontMainColor: "white"
    property color fontActiveColor: "black"
    property color fontSelectedColor: "#03cc8c"
    property color fontDarkColor: "#616161"
    property string fontFamily: "Courier"
    property color controlMainBackGroundColor: "#00ffffff"
    property color controlActiveBackGroundColor: "white"
    property real controlBorderWidth: 1
    property int controlMainBackGroundRadius: 10
    property color controlMainBorderColor: "white"
    property int colorAnimationDelay: 200
    property color themeColor: "#00e8ea"
    property color lightLineColor: "#2b2b2b"
    property color controlDisabledColor: "#4f4f4f"
    property color darkBackgroundColor: "#17171b"
    property color controlHoverTextColor: "#ffffffff"
    property color controlHoverTextDarkColor: "#303030"
    property color controlMainTextColor: "#c0c0c0"
    property color controlBorderHoveredColor: "#c0c0c0"

    // Families as the font files name them; screens use these, never literal names.
    readonly property string cricketFamily: cricketLoader.name
    readonly property string crystalFamily: crystalLoader.name
    readonly property string digiFamily: digiLoader.name
    readonly property string boldFamily: boldLoader.name
    readonly property string mediumFamily: mediumLoader.name
    readonly property string thinFamily: thinLoader.name
    readonly property string ultraLightFamily: ultraLightLoader.name
    readonly property string tubeFamily: tubeLoader.name
    readonly property string liquidFamily: liquidLoader.name
    readonly property string titleFamily: titleLoader.name

    property Component comboboxStyle: ComboBoxStyle {
        background: Rectangle {
            implicitWidth: 160
            implicitHeight: 30
            radius: styles.controlMainBackGroundRadius
            color: control.hovered ? styles.controlActiveBackGroundColor
                                   : styles.controlMainBackGroundColor
            border.width: styles.controlBorderWidth
            border.color: styles.controlMainBorderColor
            Behavior on color { ColorAnimation { duration: styles.colorAnimationDelay } }
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
            font.family: styles.mediumFamily
            font.pixelSize: 14
            color: control.hovered ? styles.fontActiveColor : styles.fontMainColor
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
            font.family: styles.mediumFamily
            font.pixelSize: 14
            font.letterSpacing: 1.5
            color: control.checked ? styles.fontSelectedColor
                                   : control.hovered ? styles.controlHoverTextColor
                                                     : styles.controlMainTextColor
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

    property Component textFieldStyle: textFieldStyleOf(styles.controlMainBorderColor, 14)
    property Component textFieldStyle2: textFieldStyleOf(styles.controlMainTextColor, 14)
    property Component textFieldStyle3: textFieldStyleOf(styles.themeColor, 14)
    property Component textFieldStyle4: textFieldStyleOf(styles.lightLineColor, 12)
    property Component textFieldStyle5: textFieldStyleOf(styles.fontSelectedColor, 18)
    property Component textFieldRegistrationStyle: textFieldStyleOf(styles.controlMainBorderColor,
                                                                    16)
    property Component comboBoxRegistrationStyle: comboboxStyle

    property Component checkBoxStyle: CheckBoxStyle {
        indicator: Rectangle {
            implicitWidth: 18
            implicitHeight: 18
            radius: 3
            color: "transparent"
            border.color: control.hovered ? styles.controlBorderHoveredColor
                                          : styles.controlMainBorderColor
            Image {
                anchors.centerIn: parent
                visible: control.checked
                source: "qrc:///basic/images/check.png"
            }
        }
        label: Text {
            text: control.text
            font.family: styles.mediumFamily
            font.pixelSize: 14
            color: styles.fontMainColor
        }
    }
    property Component radioButtonStyle: radioStyleOf(styles.fontSelectedColor)
    property Component radioButtonStyle1: radioStyleOf(styles.themeColor)
    property Component radioButtonStyle2: radioStyleOf(styles.fontMainColor)
    property Component radioButtonStyle3: radioStyleOf(styles.controlMainTextColor)

    property Component scrollViewStyle: ScrollViewStyle {
        transientScrollBars: true
        handle: Rectangle {
            implicitWidth: 6
            radius: 3
            color: styles.controlMainTextColor
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
            color: styles.lightLineColor
        }
        progress: Rectangle {
            radius: 4
            color: styles.themeColor
        }
    }

    // The push buttons share one look and differ in size.
    function buttonStyleOf(pixelSize, width, height) {
        return buttonStyleComponent.createObject(styles, {
                                                     "pixelSize": pixelSize,
                                                     "minWidth": width,
                                                     "minHeight": height
                                                 }).style
    }

    function arrowStyleOf(image) {
        return arrowStyleComponent.createObject(styles, { "image": image }).style
    }

    function textFieldStyleOf(borderColor, pixelSize) {
        return textFieldStyleComponent.createObject(styles, {
                                                        "borderColor": borderColor,
                                                        "pixelSize": pixelSize
                                                    }).style
    }

    function radioStyleOf(markColor) {
        return radioStyleComponent.createObject(styles, { "markColor": markColor }).style
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
                    radius: styles.controlMainBackGroundRadius
                    color: !control.enabled ? "transparent"
                                            : control.pressed || control.hovered
                                              ? styles.controlActiveBackGroundColor
                                              : styles.controlMainBackGroundColor
                    border.width: styles.controlBorderWidth
                    border.color: control.enabled ? styles.controlMainBorderColor
                                                  : styles.controlDisabledColor
                    Behavior on color { ColorAnimation { duration: styles.colorAnimationDelay } }
                }
                label: Text {
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    text: control.text
                    font.family: styles.mediumFamily
                    font.pixelSize: holder.pixelSize
                    font.letterSpacing: 1
                    color: !control.enabled ? styles.controlDisabledColor
                                            : control.pressed || control.hovered
                                              ? styles.controlHoverTextDarkColor
                                              : styles.fontMainColor
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
                textColor: styles.fontMainColor
                placeholderTextColor: styles.fontDarkColor
                font.family: styles.mediumFamily
                font.pixelSize: holder.pixelSize
                background: Rectangle {
                    implicitWidth: 200
                    implicitHeight: 30
                    radius: styles.controlMainBackGroundRadius
                    color: styles.controlMainBackGroundColor
                    border.width: styles.controlBorderWidth
                    border.color: control.activeFocus ? styles.themeColor : holder.borderColor
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
                    border.color: styles.controlMainBorderColor
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
                    font.family: styles.mediumFamily
                    font.pixelSize: 14
                    color: styles.fontMainColor
                }
            }
        }
    }

    FontLoader {
        id: cricketLoader

        source: "qrc:///fonts/Cricket Normal.ttf"
    }
    FontLoader {
        id: crystalLoader

        source: "qrc:///fonts/Crystal.ttf"
    }
    FontLoader {
        id: digiLoader

        source: "qrc:///fonts/DS-DIGI.TTF"
    }
    FontLoader {
        id: boldLoader

        source: "qrc:///fonts/HelveticaNeue-Bold.ttf"
    }
    FontLoader {
        id: mediumLoader

        source: "qrc:///fonts/HelveticaNeue-Medium.ttf"
    }
    FontLoader {
        id: thinLoader

        source: "qrc:///fonts/HelveticaNeue-Thin.ttf"
    }
    FontLoader {
        id: ultraLightLoader

        source: "qrc:///fonts/HelveticaNeue-UltraLight.ttf"
    }
    FontLoader {
        id: tubeLoader

        source: "qrc:///fonts/IV-16.ttf"
    }
    FontLoader {
        id: liquidLoader

        source: "qrc:///fonts/liquidcr.ttf"
    }
    FontLoader {
        id: titleLoader

        source: "qrc:///fonts/MGJTypeface.ttf"
    }
}
