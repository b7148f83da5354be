#include "app/main_window.h"
#include "platform/config.h"
#include "platform/network_http.h"

#include "platform/qt_platform.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quernfold::installChineseTranslations(app);
    // The list asks for the Windows UI font; elsewhere a packaged CJK font stands in for it.
    QFont::insertSubstitutions(
        QStringLiteral("微软雅黑"), { QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC") });

    const quernfold::Config config = quernfold::Config::fromEnvironment();
    quernfold::QtDialogs dialogs;
    quernfold::DesktopBrowser browser;
    quernfold::StyleSheetSkin skin;
    quernfold::NetworkHttpClient http(config.httpTimeoutMs);

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
