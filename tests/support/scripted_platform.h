#pragma once

#include "window/main_window.h"
#include "platform/browser.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/http.h"
#include "platform/skin.h"

#include <QList>
#include <QMap>
#include <QUrl>
#include <functional>
#include <memory>

namespace quernfold::test {

// What the program asked of a modal thing.
// The text a form showed in its field `name`.
QString fieldText(const QList<FormField> &form, const QString &name);
const FormField *findField(const QList<FormField> &form, const QString &name);

struct AskedBox {
    QString text;
    MessageStyle style;
    QString title;
    // The buttons' own captions the box was asked with (none: the standard ones).
    QStringList captions = {};
};

// Answers modal things from prepared queues and records every question. An unprepared question is
// answered No / Cancel (Cancel where the box has it) and counted, so a test can see it.
class ScriptedDialogs : public Dialogs
{
public:
    MessageAnswer messageBox(
        const QString &text, MessageStyle style, const QString &title, const QStringList &captions = {}) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    std::optional<QString> openFile(FileDialogSettings &settings) override;
    std::optional<QString> saveFile(FileDialogSettings &settings) override;
    std::optional<QList<FormField>> formDialog(
        const QString &objectName, const QString &title, const QList<FormField> &fields) override;
    void showTable(const QString &objectName, const QString &title, const QStringList &headers,
        const QList<QStringList> &rows) override;

    QList<MessageAnswer> messageAnswers;
    // A form dialog's answer: the texts typed, by field name (the others keep what they showed); std::nullopt
    // cancels.
    QList<std::optional<QMap<QString, QString>>> formAnswers;
    QList<std::optional<QString>> inputAnswers;
    QList<std::optional<QString>> fileAnswers;
    // The filter entry the user picks in the next file dialog that is answered with a file; without one, the
    // entry the dialog opened with stays selected.
    QList<int> filterAnswers;
    // Runs once while the next box or dialog is "open", before it answers: lets a test do what a user or a
    // timer could do meanwhile.
    std::function<void()> whileBoxOpen;

    QList<AskedBox> boxes;
    QList<AskedBox> inputs;
    QList<FileDialogSettings> fileDialogs;
    QList<QList<FormField>> forms;
    struct ShownTable {
        QString objectName;
        QString title;
        QStringList headers;
        QList<QStringList> rows;
    };
    QList<ShownTable> tables;
    int unprepared = 0;
};

// Answers HTTP from a function instead of a network, asynchronously as the real client does: each answer is
// delivered from the event loop, or held until the test completes the request itself.
class ScriptedHttp : public QObject, public HttpClient
{
public:
    RequestId start(const HttpRequest &request, Callback done) override;
    void cancel(RequestId id) override;
    void abortAll() override;

    // Every request gets the same response.
    void answerAlways(const HttpResponse &response)
    {
        answer = [response](const HttpRequest &) { return response; };
    }
    // Answers a request that `answer` left pending.
    void complete(RequestId id, HttpResponse response);
    QList<RequestId> pendingIds() const { return m_pending.keys(); }
    QList<QUrl> urls() const;

    static HttpResponse reply(int status, const QByteArray &contentType, const QByteArray &body);
    static HttpResponse failure(HttpFailure failure, const QString &error = QStringLiteral("scripted failure"));

    // The answer to a request; std::nullopt keeps it pending. Without one, every request fails.
    std::function<std::optional<HttpResponse>(const HttpRequest &)> answer;
    QList<HttpRequest> requests; // every request started, in order
    int aborts = 0;
    int cancels = 0;
    // True while a request's callback runs, as a real client's completion would be on the stack.
    bool delivering = false;

private:
    QMap<RequestId, Callback> m_pending;
    RequestId m_nextId = 1;
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

class ScriptedClipboard : public Clipboard
{
public:
    void setText(const QString &text) override
    {
        texts << text;
        current = text;
    }
    QString text() const override { return current; }
    QStringList texts; // every text copied, in order
    QString current; // what a paste finds: the last text copied, or what the test put there
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
    // The version-check timer (Timer1) is stopped unless asked for: its first tick runs the version check, which
    // most tests leave out.
    explicit ScriptedWindow(HttpClient *http = nullptr, Config config = {}, bool keepVersionCheckTimer = false);
    ~ScriptedWindow();

    ScriptedDialogs dialogs;
    ScriptedBrowser browser;
    ScriptedClipboard clipboard;
    ScriptedSkin skin;
    QList<int> quitStatuses;
    std::unique_ptr<MainWindow> window;

    template <typename T> T *find(const QString &name) const { return window->findChild<T *>(name); }
    QString panel(int number) const;
};

} // namespace quernfold::test
