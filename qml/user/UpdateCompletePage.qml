import QtQuick 2.15
import "qrc:///basic"

// Shown for a few seconds after the program was updated.
BackgroundPageTemplate {
    objectName: "updateCompletePage"

    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 220
        source: "images/UpdateCompleteLogo.png"
    }
    Image {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 430
        source: "images/UpdateCompleteText.png"
    }
}
