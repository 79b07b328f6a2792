import QtQuick 2.15
import QtQuick.Controls 1.4
import sl.watch.styles 1.0

// A combo box over a list of texts, in the shared combo box style.
ComboBox {
    implicitWidth: 170
    style: GlobalStyles.comboboxStyle
}
