import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A radio button in the program's style.
RadioButton {
    style: GlobalStyles.radioButtonStyle
}
