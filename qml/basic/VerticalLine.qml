import QtQuick 2.15
import sl.watch.styles 1.0

// A one-pixel divider down its parent's height.
Rectangle {
    implicitWidth: 1
    implicitHeight: parent ? parent.height : 100
    color: GlobalStyles.lightLineColor
}
