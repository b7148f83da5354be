#include "app/command_line.h"
#include "app/config.h"
#include "app/interrupt_pipe.h"
#include "cli/headless_run.h"
#include "platform/curl_http.h"
#include "window/main_window.h"

#include "platform/qt_platform.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    // A file size limit (`ulimit -f`, a service's limits) would end the program in the middle of a write, leaving
    // the block half-appended; ignored, the write fails with EFBIG and is reported as any failed write is.
    std::signal(SIGXFSZ, SIG_IGN);
    // Help, version and a refusal need no display, so they are answered before the GUI starts; Qt's own options
    // are set aside for it.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    const quernfold::CommandLine early = quernfold::parseCommandLine(quernfold::withoutQtOptions(rawArguments));
    // A lookup for a script or a scheduler: no window, so no display and no GUI application at all.
    if (early.action == quernfold::CommandLine::Query)
        return quernfold::runQuery(argc, argv, early.query);
    if (early.action != quernfold::CommandLine::Run)
        return quernfold::finishCommandLine(early);

    QApplication app(argc, argv);
    // QApplication has taken Qt's own options out by now; anything else unknown is refused.
    const quernfold::CommandLine commandLine = quernfold::parseCommandLine(QCoreApplication::arguments());
    if (commandLine.action != quernfold::CommandLine::Run)
        return quernfold::finishCommandLine(commandLine);
    quernfold::installChineseTranslations(app);

    QStringList notes;
    const quernfold::Config config = quernfold::Config::fromEnvironment(&notes);
    for (const QString &note : std::as_const(notes))
        std::fprintf(stderr, "quernfold: %s\n", qPrintable(note));
    quernfold::QtDialogs dialogs;
    quernfold::DesktopBrowser browser;
    quernfold::SystemClipboard clipboard;
    quernfold::StyleSheetSkin skin;
    quernfold::CurlHttpClient http(config.httpTimeoutMs);

    quernfold::Platform platform;
    platform.dialogs = &dialogs;
    platform.browser = &browser;
    platform.clipboard = &clipboard;
    platform.skin = &skin;
    platform.http = &http;
    platform.quit = [](int status) { QCoreApplication::exit(status); };

    // A logout, kill or a container stopped ends the program as a close would, without the question. Made before
    // the window so it outlives the window's last save: a second signal then must not cut that short.
    quernfold::InterruptPipe endSignals({ SIGTERM, SIGHUP });
    quernfold::MainWindow window(platform, config);
    dialogs.setParentWidget(&window);
    QObject::connect(
        &endSignals, &quernfold::InterruptPipe::interrupted, &window, &quernfold::MainWindow::endWithoutQuestion);
    window.load();
    // From inside the event loop, so that a close during the import can end it.
    if (!commandLine.listFile.isEmpty())
        QTimer::singleShot(0, &window, [&window, &commandLine] { window.importListFile(commandLine.listFile); });
    return app.exec();
}
