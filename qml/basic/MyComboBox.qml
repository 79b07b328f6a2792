import QtQuick 2.15
import QtQuick.Controls 1.4

// A combo box of texts in the program's light style.
ComboBox {
    implicitWidth: 170
    style: MyComboBoxStyle {}
}
