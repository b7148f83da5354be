#include "support/scripted_platform.h"

#include <QLabel>
#include <QTimer>
#include <utility>

namespace quernfold::test {

int ScriptedDialogs::messageBox(const QString &text, int style, const QString &title)
{
    boxes << AskedBox { text, style, title };
    if (whileBoxOpen)
        std::exchange(whileBoxOpen, nullptr)();
    if (messageAnswers.isEmpty()) {
        ++unprepared;
        return (style & 0xF) == MsgStyle::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    return messageAnswers.takeFirst();
}

std::optional<QString> ScriptedDialogs::inputBox(
    const QString &prompt, const QString &title, const QString &defaultText)
{
    inputs << AskedBox { prompt + u'|' + defaultText, 0, title };
    if (whileBoxOpen)
        std::exchange(whileBoxOpen, nullptr)();
    if (inputAnswers.isEmpty()) {
        ++unprepared;
        return std::nullopt;
    }
    return inputAnswers.takeFirst();
}

std::optional<QString> ScriptedDialogs::openFile(FileDialogSettings &settings)
{
    return saveFile(settings);
}

std::optional<QString> ScriptedDialogs::saveFile(FileDialogSettings &settings)
{
    fileDialogs << settings;
    if (whileBoxOpen)
        std::exchange(whileBoxOpen, nullptr)();
    if (fileAnswers.isEmpty()) {
        ++unprepared;
        return std::nullopt;
    }
    const std::optional<QString> answer = fileAnswers.takeFirst();
    if (answer)
        settings.fileName = *answer;
    return answer;
}

HttpResponse ScriptedHttp::get(const QUrl &url, const HttpHeaders &headers)
{
    ++gets;
    requested << url;
    requestHeaders << headers;
    if (!answer)
        return HttpResponse { false, QStringLiteral("no answer scripted"), 0, {}, {} };
    return answer(url, QByteArray());
}

HttpResponse ScriptedHttp::post(const QUrl &url, const HttpHeaders &headers, const QByteArray &body)
{
    requested << url;
    requestHeaders << headers;
    postedBodies << body;
    if (!answer)
        return HttpResponse { false, QStringLiteral("no answer scripted"), 0, {}, {} };
    return answer(url, body);
}

ScriptedWindow::ScriptedWindow(HttpClient *http, Config config, bool keepTimer1)
{
    Platform platform;
    platform.dialogs = &dialogs;
    platform.browser = &browser;
    platform.skin = &skin;
    platform.http = http;
    platform.quit = [this](int status) { quitStatuses << status; };
    window = std::make_unique<MainWindow>(platform, config);
    if (!keepTimer1)
        find<QTimer>(QStringLiteral("Timer1"))->stop();
}

ScriptedWindow::~ScriptedWindow() = default;

QString ScriptedWindow::panel(int number) const
{
    const auto *label = find<QLabel>(QStringLiteral("S1_panel%1").arg(number));
    return label ? label->text() : QStringLiteral("<no panel>");
}

} // namespace quernfold::test
