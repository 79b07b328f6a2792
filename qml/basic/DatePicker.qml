import QtQuick 2.15
import sl.watch.styles 1.0

// Day, month and year, each stepped by its own arrows; `date` always holds a valid date.
Row {
    id: picker

    property date date: new Date()

    signal edited(date date)

    function step(part, delta) {
        var d = new Date(date.getTime())
        if (part === 0)
            d.setDate(d.getDate() + delta)
        else if (part === 1)
            d.setMonth(d.getMonth() + delta)
        else
            d.setFullYear(d.getFullYear() + delta)
        date = d
        edited(d)
    }

    spacing: 16

    Repeater {
        model: 3
        Column {
            spacing: 4
            ArrowButton {
                anchors.horizontalCenter: parent.horizontalCenter
                direction: ArrowButton.Up
                onClicked: picker.step(index, 1)
            }
            MediumText {
                anchors.horizontalCenter: parent.horizontalCenter
                text: index === 0 ? Qt.formatDate(picker.date, "dd")
                                  : index === 1 ? Qt.formatDate(picker.date, "MM")
                                                : Qt.formatDate(picker.date, "yyyy")
            }
            ArrowButton {
                anchors.horizontalCenter: parent.horizontalCenter
                direction: ArrowButton.Down
                onClicked: picker.step(index, -1)
            }
        }
    }
}
