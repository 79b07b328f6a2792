#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Runs the real program with a private home, configuration, runtime and
// temporary folder, so that neither its single-instance slot nor its files meet
// those of another run.
class ProgramSandbox
{
public:
    ProgramSandbox()
    {
        for (const auto &folder : kFolders)
            QDir(m_dir.path()).mkpath(QString::fromLatin1(folder.name));
        QFile::setPermissions(path(QStringLiteral("runtime")), QFileDevice::ReadOwner |
                                                                   QFileDevice::WriteOwner |
                                                                   QFileDevice::ExeOwner);
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The same folders for a program object made inside the test process; the
    // working directory becomes the private home.
    void useForThisProcess() const
    {
        for (const auto &folder : kFolders)
            qputenv(folder.variable, path(QString::fromLatin1(folder.name)).toLocal8Bit());
        QDir::setCurrent(path(QStringLiteral("home")));
    }

    // A machine identifier of the test's own, for this process and the programs it starts; the
    // host key follows from it. Returns the file's path.
    QString useMachineId(const QByteArray &id) const
    {
        const QString file = path(QStringLiteral("machine-id"));
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(id + '\n');
        qputenv("CORVANE_MACHINE_ID_FILE", file.toLocal8Bit());
        return file;
    }

    static QString program() { return QStringLiteral(CORVANE_BIN_DIR "/corvane"); }

    // A started program, offscreen unless extra says otherwise; the caller owns it.
    QProcess *start(const QStringList &arguments, const QProcessEnvironment &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &folder : kFolders)
            env.insert(QString::fromLatin1(folder.variable),
                       path(QString::fromLatin1(folder.name)));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(extra);
        auto *process = new QProcess;
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(path(QStringLiteral("home")));
        process->start(program(), arguments);
        return process;
    }

    QByteArray readFile(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A started program that writes its log into run.log, and the lines in it so far.
    QProcess *startLogged() { return start({"--debug-file", path(QStringLiteral("run.log"))}); }
    int logCount(const QByteArray &text) const { return readFile("run.log").count(text); }
    // Waits until the log holds the text at least that many times; false after the time-out.
    bool waitForLog(const QByteArray &text, int times = 1) const
    {
        return QTest::qWaitFor([&] { return logCount(text) >= times; }, 10000);
    }

    // Ended the way a desktop ends it: a killed program leaves its single-instance mark behind.
    static void stop(QProcess *process)
    {
        process->terminate();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

private:
    struct Folder
    {
        const char *variable;
        const char *name;
    };
    static constexpr Folder kFolders[] = {{"HOME", "home"},
                                          {"XDG_CONFIG_HOME", "config"},
                                          {"XDG_RUNTIME_DIR", "runtime"},
                                          {"TMPDIR", "tmp"}};
    QTemporaryDir m_dir;
};
