#include "lookup_site.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quernfold_lookup_site"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local record-lookup site on 127.0.0.1 for tests and benchmarks."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port to listen on; 0 picks a free one."), QStringLiteral("N"), QStringLiteral("0"));
    parser.addOption(portOption);
    // Started on its own (the demo), the site stands in for the version service too, and the program should
    // greet as it does when it is up to date.
    const QCommandLineOption versionReplyOption(QStringLiteral("version-reply"),
        QStringLiteral("Body of the reply to POST /index.php/Index/soft_version."), QStringLiteral("JSON"),
        QStringLiteral(R"({"result":"1","info":{"version":"2.0","sid":"15","must":"0"}})"));
    parser.addOption(versionReplyOption);
    const QCommandLineOption latencyOption(QStringLiteral("latency-ms"),
        QStringLiteral("Answer every ordinary record page this many milliseconds late."), QStringLiteral("N"),
        QStringLiteral("0"));
    parser.addOption(latencyOption);
    const QCommandLineOption eraOption(QStringLiteral("era"),
        QStringLiteral("Answer as the records stand N lookups later (newfiling, cancelled, newholder)."),
        QStringLiteral("N"), QStringLiteral("0"));
    parser.addOption(eraOption);
    const QCommandLineOption logOption(
        QStringLiteral("log"), QStringLiteral("Print \"METHOD target\" of every request on stdout."));
    parser.addOption(logOption);
    const QCommandLineOption logFileOption(QStringLiteral("log-file"),
        QStringLiteral("Append \"METHOD target\" of every request to FILE instead of stdout."), QStringLiteral("FILE"));
    parser.addOption(logFileOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "invalid port: %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    const int latencyMs = parser.value(latencyOption).toInt(&ok);
    if (!ok || latencyMs < 0) {
        std::fprintf(stderr, "invalid latency: %s\n", qPrintable(parser.value(latencyOption)));
        return 2;
    }

    const int era = parser.value(eraOption).toInt(&ok);
    if (!ok || era < 0) {
        std::fprintf(stderr, "invalid era: %s\n", qPrintable(parser.value(eraOption)));
        return 2;
    }

    quernfold::site::LookupSite site;
    site.setLatencyMs(latencyMs);
    site.setEra(era);
    // A log file is read by whoever started us while we run: a pipe nobody drains would stall us after 64 KiB.
    FILE *log = nullptr;
    if (parser.isSet(logFileOption)) {
        log = std::fopen(QFile::encodeName(parser.value(logFileOption)).constData(), "a");
        if (!log) {
            std::fprintf(stderr, "cannot open the log file %s\n", qPrintable(parser.value(logFileOption)));
            return 2;
        }
    } else if (parser.isSet(logOption)) {
        log = stdout;
    }
    // Nobody can read the recorded requests from outside the process, so they are kept only long enough to be
    // printed.
    site.setRecording(log != nullptr);
    if (log) {
        QObject::connect(&site, &quernfold::site::LookupSite::requestReceived, &site, [&site, log] {
            for (const quernfold::site::RecordedRequest &request : site.requests()) {
                // Whatever a client sent must not reach the terminal as control sequences.
                QByteArray line = request.method + ' ' + request.target;
                for (char &c : line) {
                    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                        c = '?';
                }
                std::fprintf(log, "%s\n", line.constData());
            }
            std::fflush(log);
            site.clearRequests();
        });
    }
    site.setVersionReply(parser.value(versionReplyOption).toUtf8());
    if (!site.listen(quint16(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    // Whoever started us waits for exactly this line to learn the port.
    std::printf("listening on %s\n", qPrintable(site.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
