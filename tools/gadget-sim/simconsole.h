#ifndef SIMCONSOLE_H
#define SIMCONSOLE_H

#include <QString>

// Output of the simulator: one machine-readable "EVENT ..." line per notable
// event on stdout (flushed at once, so that a waiting test sees it), and the
// readable trace on stderr when verbose.
class SimConsole
{
public:
    static void setVerbose(bool on);
    static bool isVerbose();
    static void event(const QString &text);
    static void trace(const QString &text);
    static void error(const QString &text);
};

#endif // SIMCONSOLE_H
