// Start-up shared by every fuzz target: one application object for the classes
// that need it, and silence, because a log line per fragment would cost more
// than the code under test.
#include <QCoreApplication>

#include <cstdint>

namespace {
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(dropMessage);
    static QCoreApplication app(*argc, *argv);
    return 0;
}
