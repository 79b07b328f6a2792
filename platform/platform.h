#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The few calls that differ between Windows and Linux. Each system has its own
// implementation file; the rest of the program sees only these functions.
namespace Platform {

// SHA-1 over the machine identifier's bytes including one terminating zero
// byte; empty when the identifier cannot be read.
QByteArray hostKey();

// When no machine identifier can be read, the Linux version falls back to a random identifier
// of the user's own, kept in this file (readable only by the user) and said once in the log.
QString userHostIdLocation();

// Linux only: the same digest computed from a machine-id file, for callers
// (and tests) that name the file. Empty when the file is unreadable or empty.
QByteArray hostKeyFromMachineIdFile(const QString &path);

// A folder that only this user can enter, for the per-user meeting points of the program's
// copies (the instance lock, the local server); empty when none can be had.
QString privateRuntimeFolder();
// The local server name for name, scoped to this user.
QString userLocalServerName(const QString &name);
// Takes an exclusive lock on the file at path (created, readable only by the user, when
// missing). The system drops the lock when the handle is closed or the process ends, however it
// ends, so a crashed run never leaves it behind. Returns the handle, or -1 with busy set when
// another holder has it, or -1 with error set when the file cannot be used.
qintptr lockFile(const QString &path, bool *busy, QString *error);
void unlockFile(qintptr handle);

// Per-user start at log-on with " --hidden". An entry that the user's desktop hides (Hidden=true)
// counts as off.
bool isAutorun();
// What the entry holds for the program at that path: on Linux a desktop entry file, on Windows
// the registry value.
QString autostartEntry(const QString &program);
// Returns whether the entry is now in the requested state.
bool setAutorun(bool on);
// Where the entry lives (a file path on Linux, the registry key on Windows).
QString autostartLocation();

// Starts program with arguments, detached, with administrator rights (the system asks the
// user); false when it could not be started. Linux goes through pkexec, Windows through the
// shell's "runas".
bool startDetachedElevated(const QString &program, const QStringList &arguments,
                           const QString &workingDirectory);

// Turns the system's polite termination requests (SIGTERM, SIGINT, SIGHUP on
// Linux) into a normal quit of the event loop, so that shutdown runs as after a
// quit from the interface.
void quitOnTerminationRequest();

} // namespace Platform
