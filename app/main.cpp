#include "app/main_window.h"
#include "platform/config.h"
#include "platform/curl_http.h"

#include "platform/qt_platform.h"

#include <QApplication>
#include <QFont>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quernfold::installChineseTranslations(app);
    // The list asks for the Windows UI font; elsewhere a packaged CJK font stands in for it.
    QFont::insertSubstitutions(
        QStringLiteral("微软雅黑"), { QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC") });

    QStringList notes;
    const quernfold::Config config = quernfold::Config::fromEnvironment(&notes);
    for (const QString &note : std::as_const(notes))
        std::fprintf(stderr, "quernfold: %s\n", qPrintable(note));
    quernfold::QtDialogs dialogs;
    quernfold::DesktopBrowser browser;
    quernfold::StyleSheetSkin skin;
    quernfold::CurlHttpClient http(config.httpTimeoutMs);

    quernfold::Platform platform;
    platform.dialogs = &dialogs;
    platform.browser = &browser;
    platform.skin = &skin;
    platform.http = &http;
    platform.quit = [](int status) { QCoreApplication::exit(status); };

    quernfold::MainWindow window(platform, config);
    dialogs.setParentWidget(&window);
    window.load();
    return app.exec();
}
