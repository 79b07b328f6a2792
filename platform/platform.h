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

// Linux only: the same digest computed from a machine-id file, for callers
// (and tests) that name the file. Empty when the file is unreadable or empty.
QByteArray hostKeyFromMachineIdFile(const QString &path);

// Per-user start at log-on with " --hidden".
bool isAutorun();
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
