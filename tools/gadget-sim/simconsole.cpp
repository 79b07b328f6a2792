#include "simconsole.h"

#include <cstdio>

namespace {
bool verboseOn = false;
}

void SimConsole::setVerbose(bool on)
{
    verboseOn = on;
}

bool SimConsole::isVerbose()
{
    return verboseOn;
}

void SimConsole::event(const QString &text)
{
    const QByteArray line = "EVENT " + text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void SimConsole::trace(const QString &text)
{
    if (!verboseOn)
        return;
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void SimConsole::error(const QString &text)
{
    const QByteArray line = "gadget-sim: " + text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
