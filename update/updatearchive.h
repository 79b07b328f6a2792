#pragma once

#include <QByteArray>
#include <QString>

// Whether a downloaded update archive may be handed to the updater: a whole zip archive, read
// from its central directory, whose every entry unpacks inside the folder it is unpacked into.
// On refusal *why names the first fault.
bool isSafeUpdateArchive(const QByteArray &data, QString *why);
