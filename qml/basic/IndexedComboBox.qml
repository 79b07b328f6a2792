import QtQuick 2.15
import QtQuick.Controls 1.4

// A combo box over {"name", "value"} entries that selects by value: `value` picks the entry,
// and choosing an entry updates `value` and reports it.
ComboBox {
    id: box

    property var entries: []
    property var value

    signal picked(var value)

    function indexOfValue(v) {
        for (var i = 0; i < entries.length; ++i) {
            if (entries[i].value == v)
                return i
        }
        return -1
    }

    implicitWidth: 170
    model: entries.map(function (e) { return e.name })
    currentIndex: indexOfValue(value)
    style: MyComboBoxStyle {}
    onActivated: {
        value = entries[index].value
        picked(value)
    }
}
