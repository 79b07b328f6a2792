#include "loghandler.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QVector>

#include <cstdio>
#include <cstdlib>

namespace {
struct HeldMessage
{
    QtMsgType type;
    QString text;
    QDateTime when;
};

// Guards the handler state below; messages arrive from any thread that logs.
QMutex g_mutex;
QString g_fileName;
int g_mode = LogHandler::DefaultOutput;
QVector<HeldMessage> g_held;
QString g_fileIfTheStartEnds;

const char *levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug: ";
    case QtWarningMsg:
        return "Warning: ";
    case QtCriticalMsg:
        return "Critical: ";
    case QtFatalMsg:
        return "Fatal: ";
    default:
        return "Unknown: ";
    }
}

// Caller holds g_mutex. Each message opens and closes the file, so a log that
// is moved or removed while the program runs is simply started again.
void appendToFile(QtMsgType type, const QString &text, const QDateTime &when)
{
    QFile file(g_fileName);
    if (g_fileName.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray line = LogHandler::formatLine(type, text, when);
    if (type != QtFatalMsg)
        line.append("\r\n");
    file.write(line);
    file.flush();
}

// Messages that end a start or report a broken part must reach the user who started the
// program, even when the log goes to a file.
bool alsoToStandardError(QtMsgType type)
{
    return type == QtCriticalMsg || type == QtFatalMsg;
}

void writeToStandardError(QtMsgType type, const QString &text, const QDateTime &when)
{
    const QByteArray line = LogHandler::formatLine(type, text, when) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void holdingHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        // Nothing says yet where the log goes: what led to the end goes where the end goes.
        QVector<HeldMessage> held;
        {
            QMutexLocker lock(&g_mutex);
            held.swap(g_held);
            g_fileName = g_fileIfTheStartEnds;
            for (const HeldMessage &m : held)
                appendToFile(m.type, m.text, m.when);
            appendToFile(type, text, QDateTime::currentDateTime());
        }
        qInstallMessageHandler(nullptr);
        for (const HeldMessage &m : held)
            writeToStandardError(m.type, m.text, m.when);
        qt_message_output(type, context, text);
        return;
    }
    QMutexLocker lock(&g_mutex);
    g_held.append({type, text, QDateTime::currentDateTime()});
}
} // namespace

namespace LogHandler {

QByteArray formatLine(QtMsgType type, const QString &text, const QDateTime &when)
{
    QByteArray line = when.toString(QStringLiteral("hh:mm:ss dd.MM.yyyy")).toUtf8();
    line.append(" @ ");
    line.append(levelWord(type));
    line.append(text.toUtf8());
    return line;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const QDateTime now = QDateTime::currentDateTime();
    {
        QMutexLocker lock(&g_mutex);
        if (g_mode != Discard)
            appendToFile(type, text, now);
        if (alsoToStandardError(type))
            writeToStandardError(type, text, now);
    }
    if (type == QtFatalMsg)
        std::abort();
}

void beginBuffering(const QString &fileIfTheStartEnds)
{
    {
        QMutexLocker lock(&g_mutex);
        g_fileIfTheStartEnds = fileIfTheStartEnds;
    }
    qInstallMessageHandler(holdingHandler);
}

void installLogHandler(const QString &fileName, int mode)
{
    QVector<HeldMessage> held;
    {
        QMutexLocker lock(&g_mutex);
        g_fileName = fileName;
        if (mode != DefaultOutput && mode != Discard && mode != AppendToFile)
            return;
        g_mode = mode;
        held.swap(g_held);
        if (mode == AppendToFile) {
            for (const HeldMessage &m : held)
                appendToFile(m.type, m.text, m.when);
        }
    }
    if (mode == DefaultOutput) {
        qInstallMessageHandler(nullptr);
        const QMessageLogContext context;
        for (const HeldMessage &m : held)
            qt_message_output(m.type, context, m.text);
    } else {
        qInstallMessageHandler(messageHandler);
    }
}

} // namespace LogHandler
