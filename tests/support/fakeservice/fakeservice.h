#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSslConfiguration>
#include <QString>
#include <QTemporaryDir>

// The local stand-in for the maker's web service (tools/fake-service), started as a process
// for one test. It makes its own certificate authority, so clients trust it through caPath()
// or sslConfiguration() and never by ignoring certificate errors.
//
//   FakeService service;
//   service.addDevice("TR31-0001-4711", serverKey);
//   QVERIFY(service.start());
//   service.script("GET", "/en/api/v1/current_jobs/", 200, R"({"current_job_list": []})");
//   ... point the client at service.origin() ...
//   QJsonArray seen = service.requests();          // method, path, query, headers, body,
//   signature, status
class FakeService
{
public:
    struct Reply
    {
        int status = 200;
        QByteArray body; // sent as it stands (JSON or any text)
        double delaySeconds = 0;
        bool never = false; // hold the connection without an answer
        bool once = true;   // false: the endpoint's answer from now on
    };

    ~FakeService();

    // Host key (hex) the service accepts; unset, any Host-Key header that signs right passes.
    void setHostKey(const QString &hex) { m_hostKey = hex; }
    // Files served under /files/NAME (the service's relative links), and the gadgets the
    // service knows; both before start().
    void addFile(const QString &name, const QByteArray &data) { m_files.append({name, data}); }
    void addDevice(const QString &serial, const QByteArray &serverKey)
    {
        m_devices.append({serial, serverKey});
    }

    bool start();

    QString origin() const;
    // The CA's PEM file, for CORVANE_SERVICE_CA.
    QString caPath() const;
    // The default configuration with the test CA added.
    QSslConfiguration sslConfiguration() const;

    bool script(const QString &method, const QString &path, const Reply &reply);
    bool script(const QString &method, const QString &path, int status, const QByteArray &body);
    bool reset();
    // Every request received so far, oldest first; with a path, only those to it.
    QJsonArray requests(const QString &path = QString());
    // The host key (hex) a program computes from this machine-id file.
    static QString hostKeyHexFor(const QString &machineIdFile);

private:
    // A GET without args, a POST with them.
    bool control(const QString &path, const QJsonObject *args, QByteArray *answer = nullptr);

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_hostKey;
    QList<QPair<QString, QByteArray>> m_devices;
    QList<QPair<QString, QByteArray>> m_files;
    quint16 m_port = 0;
};
