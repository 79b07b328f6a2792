#pragma once

#include <QByteArray>
#include <QString>

// Process-wide values fixed during start-up and read by the services later.
namespace AppInfo {

// Set by the "service" option; uploads are skipped in service mode.
bool isServiceMode();
void setServiceMode(bool on);

// Value of the "debug-file" option, empty when it was not given.
QString logFileName();
void setLogFileName(const QString &name);

// Where a file the program writes for the user goes: a relative name lands in the user's data
// folder (made when missing), since the program's own folder is not the user's to write.
QString userFilePath(const QString &name);

// SHA-1 of the machine identifier: 20 bytes, or empty when it cannot be read.
// Computed on every call, as the identifier is cheap to read.
QByteArray hostKey();
// 40 lower-case hexadecimal digits, or "" when the identifier cannot be read.
QString hostKeyHex();

// The program's own version, "1.3.9".
QString currentVersionText();
int currentVersionMajor();
int currentVersionMinor();
int currentVersionPatch();

} // namespace AppInfo
