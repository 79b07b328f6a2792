pragma Singleton
import QtQuick 2.15

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

    property Component comboboxStyle: controlSet.item ? controlSet.item.comboboxStyle : null
    property Component newButtonStyleSmall:
        controlSet.item ? controlSet.item.newButtonStyleSmall : null
    property Component newButtonStyle: controlSet.item ? controlSet.item.newButtonStyle : null
    property Component buttonStyle: controlSet.item ? controlSet.item.buttonStyle : null
    property Component buttonStyle2: controlSet.item ? controlSet.item.buttonStyle2 : null
    property Component leftPanelButtonStyle:
        controlSet.item ? controlSet.item.leftPanelButtonStyle : null
    property Component buttonStyle4: controlSet.item ? controlSet.item.buttonStyle4 : null
    property Component buttonRefreshStyle:
        controlSet.item ? controlSet.item.buttonRefreshStyle : null
    property Component buttonStyleArrow: controlSet.item ? controlSet.item.buttonStyleArrow : null
    property Component buttonStyleArrow1: controlSet.item ? controlSet.item.buttonStyleArrow1 : null
    property Component textFieldStyle: controlSet.item ? controlSet.item.textFieldStyle : null
    property Component textFieldStyle2: controlSet.item ? controlSet.item.textFieldStyle2 : null
    property Component textFieldStyle3: controlSet.item ? controlSet.item.textFieldStyle3 : null
    property Component textFieldStyle4: controlSet.item ? controlSet.item.textFieldStyle4 : null
    property Component textFieldStyle5: controlSet.item ? controlSet.item.textFieldStyle5 : null
    property Component textFieldRegistrationStyle:
        controlSet.item ? controlSet.item.textFieldRegistrationStyle : null
    property Component comboBoxRegistrationStyle:
        controlSet.item ? controlSet.item.comboBoxRegistrationStyle : null
    property Component checkBoxStyle: controlSet.item ? controlSet.item.checkBoxStyle : null
    property Component radioButtonStyle: controlSet.item ? controlSet.item.radioButtonStyle : null
    property Component radioButtonStyle1: controlSet.item ? controlSet.item.radioButtonStyle1 : null
    property Component radioButtonStyle2: controlSet.item ? controlSet.item.radioButtonStyle2 : null
    property Component radioButtonStyle3: controlSet.item ? controlSet.item.radioButtonStyle3 : null
    property Component scrollViewStyle: controlSet.item ? controlSet.item.scrollViewStyle : null
    property Component progressBarStyle: controlSet.item ? controlSet.item.progressBarStyle : null

    // Everything beyond the first page: the control styles and nine of the ten fonts. The
    // unplugged page needs neither; main.qml sets this before it shows any other page.
    property bool fullSet: false

    Loader {
        id: controlSet

        active: styles.fullSet
        source: "ControlStyles.qml"
    }
    FontLoader {
        id: cricketLoader

        source: styles.fullSet ? "qrc:///fonts/Cricket Normal.ttf" : ""
    }
    FontLoader {
        id: crystalLoader

        source: styles.fullSet ? "qrc:///fonts/Crystal.ttf" : ""
    }
    FontLoader {
        id: digiLoader

        source: styles.fullSet ? "qrc:///fonts/DS-DIGI.TTF" : ""
    }
    FontLoader {
        id: boldLoader

        source: styles.fullSet ? "qrc:///fonts/HelveticaNeue-Bold.ttf" : ""
    }
    FontLoader {
        id: mediumLoader

        source: "qrc:///fonts/HelveticaNeue-Medium.ttf"
    }
    FontLoader {
        id: thinLoader

        source: styles.fullSet ? "qrc:///fonts/HelveticaNeue-Thin.ttf" : ""
    }
    FontLoader {
        id: ultraLightLoader

        source: styles.fullSet ? "qrc:///fonts/HelveticaNeue-UltraLight.ttf" : ""
    }
    FontLoader {
        id: tubeLoader

        source: styles.fullSet ? "qrc:///fonts/IV-16.ttf" : ""
    }
    FontLoader {
        id: liquidLoader

        source: styles.fullSet ? "qrc:///fonts/liquidcr.ttf" : ""
    }
    FontLoader {
        id: titleLoader

        source: styles.fullSet ? "qrc:///fonts/MGJTypeface.ttf" : ""
    }
}
