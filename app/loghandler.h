#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The program's one message handler. Mode 0 leaves Qt's default output in
// place, mode 1 discards every message, mode 2 appends each message as one line
// to the log file. In modes 1 and 2 critical and fatal messages also go to
// standard error.
namespace LogHandler {

enum Mode { DefaultOutput = 0, Discard = 1, AppendToFile = 2 };

// Holds messages logged before installLogHandler() decides where they go, so
// that the first lines of a run are not lost to the wrong output. A fatal
// message in the meantime writes them and itself to standard error and, when a
// file name is given, to that file.
void beginBuffering(const QString &fileIfTheStartEnds = QString());

// Stores name and mode and installs or removes the handler. Messages held by
// beginBuffering() are passed on to the new destination. Modes other than 0, 1
// and 2 leave the installed handler unchanged.
void installLogHandler(const QString &fileName, int mode);

// The line the handler writes for one message, without the line end: fatal
// messages are written without it.
QByteArray formatLine(QtMsgType type, const QString &text, const QDateTime &when);

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);

} // namespace LogHandler
