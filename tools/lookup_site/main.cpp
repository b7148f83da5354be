#include "lookup_site.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quernfold_lookup_site"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Local record-lookup site on 127.0.0.1 for tests and benchmarks."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on; 0 picks a free one."), QStringLiteral("N"),
                                        QStringLiteral("0"));
    parser.addOption(portOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "invalid port: %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    quernfold::site::LookupSite site;
    // Nobody can read the recorded requests from outside the process.
    site.setRecording(false);
    if (!site.listen(quint16(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    // Whoever started us waits for exactly this line to learn the port.
    std::printf("listening on %s\n", qPrintable(site.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
