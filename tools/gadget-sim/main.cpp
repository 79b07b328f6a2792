#include "simconsole.h"
#include "simlink.h"
#include "simoptions.h"
#include "simwatch.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gadget-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION_STRING));

    SimOptions options;
    QString error;
    if (!options.parse(QCoreApplication::arguments(), &error)) {
        SimConsole::error(error);
        return 2;
    }
    SimConsole::setVerbose(options.verbose);

    SimWatch watch(options);
    SimLink link(options, &watch);
    QObject::connect(&link, &SimLink::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    link.start();
    return app.exec();
}
