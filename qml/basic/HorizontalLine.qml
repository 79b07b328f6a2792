import QtQuick 2.15
import sl.watch.styles 1.0

// A one-pixel divider across its parent's width.
Rectangle {
    implicitWidth: parent ? parent.width : 100
    implicitHeight: 1
    color: GlobalStyles.lightLineColor
}
