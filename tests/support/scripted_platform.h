#pragma once

#include "app/main_window.h"
#include "platform/browser.h"
#include "platform/dialogs.h"
#include "platform/http.h"
#include "platform/skin.h"

#include <QList>
#include <QUrl>
#include <functional>
#include <memory>

namespace quernfold::test {

// What the program asked of a modal thing.
struct AskedBox {
    QString text;
    int style = 0;
    QString title;
};

// Answers modal things from prepared queues and records every question. An unprepared question is
// answered No / Cancel and counted, so a test can see it.
class ScriptedDialogs : public Dialogs
{
public:
    int messageBox(const QString &text, int style, const QString &title) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    std::optional<QString> openFile(FileDialogSettings &settings) override;
    std::optional<QString> saveFile(FileDialogSettings &settings) override;

    QList<int> messageAnswers;
    QList<std::optional<QString>> inputAnswers;
    QList<std::optional<QString>> fileAnswers;
    // Runs once while the next box or dialog is "open", before it answers: lets a test do what a user or a
    // timer could do meanwhile.
    std::function<void()> whileBoxOpen;

    QList<AskedBox> boxes;
    QList<AskedBox> inputs;
    QList<FileDialogSettings> fileDialogs;
    int unprepared = 0;
};

// Answers HTTP from a function instead of a network; the function may run nested handlers, as the real
// client's event loop would.
class ScriptedHttp : public HttpClient
{
public:
    HttpResponse get(const QUrl &url, const HttpHeaders &headers) override;
    HttpResponse post(const QUrl &url, const HttpHeaders &headers, const QByteArray &body) override;
    void abortAll() override { ++aborts; }
    // Every request gets the same response.
    void answerAlways(const HttpResponse &response)
    {
        answer = [response](const QUrl &, const QByteArray &) { return response; };
    }

    std::function<HttpResponse(const QUrl &, const QByteArray &)> answer;
    // One entry per request, GET or POST, in order; bodies only for POSTs.
    QList<QUrl> requested;
    QList<HttpHeaders> requestHeaders;
    QList<QByteArray> postedBodies;
    int gets = 0;
    int aborts = 0;
};

class ScriptedBrowser : public Browser
{
public:
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return starts;
    }
    QList<QUrl> opened;
    // Whether a browser "starts"; false plays a desktop without one.
    bool starts = true;
};

class ScriptedSkin : public Skin
{
public:
    bool attach(const QString &path) override
    {
        attached << path;
        return accepts;
    }
    QStringList attached;
    // Whether a skin file "is there".
    bool accepts = false;
};

// A window on scripted platform parts. The HTTP client is whatever the test hands in (by default none:
// a test that reaches the network without one fails loudly).
struct ScriptedWindow {
    // Timer1 is stopped unless asked for: its first tick runs the version check, which most tests leave out.
    explicit ScriptedWindow(HttpClient *http = nullptr, Config config = {}, bool keepTimer1 = false);
    ~ScriptedWindow();

    ScriptedDialogs dialogs;
    ScriptedBrowser browser;
    ScriptedSkin skin;
    QList<int> quitStatuses;
    std::unique_ptr<MainWindow> window;

    template <typename T> T *find(const QString &name) const { return window->findChild<T *>(name); }
    QString panel(int number) const;
};

} // namespace quernfold::test
