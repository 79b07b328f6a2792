import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A check box in the program's style.
CheckBox {
    style: GlobalStyles.checkBoxStyle
}
