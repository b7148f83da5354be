#include "support/scripted_platform.h"

#include "platform/qt_platform.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <utility>

namespace quernfold::test {

namespace {

// Every box a test drives is also built as the program shows it, laid out and measured, so no box the program
// asks can cut its title or its text. Offscreen there is no title bar: the title's width in the program's font plus
// the bar's buttons stands for it.
void checkBoxFits(const QString &text, MessageStyle style, const QString &title, const QStringList &captions)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    const std::unique_ptr<QMessageBox> box = QtDialogs::buildMessageBox(nullptr, text, style, title, captions);
    box->setAttribute(Qt::WA_DontShowOnScreen);
    box->show();
    const int titleNeeds
        = QFontMetrics(QApplication::font()).horizontalAdvance(title) + QtDialogs::kTitleBarButtonsWidth;
    const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    const bool textFits = label
        && (label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                              : label->width() >= label->sizeHint().width());
    QTest::qVerify(box->width() >= titleNeeds && textFits, "box->width() >= titleNeeds && textFits",
        qPrintable(QStringLiteral("box %1 wide for \"%2\"").arg(box->width()).arg(title + u'|' + text)), __FILE__,
        __LINE__);
}

} // namespace

MessageAnswer ScriptedDialogs::messageBox(
    const QString &text, MessageStyle style, const QString &title, const QStringList &captions)
{
    boxes << AskedBox { text, style, title, captions };
    checkBoxFits(text, style, title, captions);
    if (whileBoxOpen)
        std::exchange(whileBoxOpen, nullptr)();
    if (messageAnswers.isEmpty()) {
        ++unprepared;
        switch (style.buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::YesNoCancel:
            return MessageAnswer::Cancel;
        }
        return MessageAnswer::Ok;
    }
    return messageAnswers.takeFirst();
}

std::optional<QString> ScriptedDialogs::inputBox(
    const QString &prompt, const QString &title, const QString &defaultText)
{
    inputs << AskedBox { prompt + u'|' + defaultText, {}, title };
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
    if (answer) {
        settings.fileName = *answer;
        if (!filterAnswers.isEmpty())
            settings.selectedFilter = filterAnswers.takeFirst();
    }
    return answer;
}

std::optional<QList<FormField>> ScriptedDialogs::formDialog(
    const QString &, const QString &, const QList<FormField> &fields)
{
    forms << fields;
    if (whileBoxOpen)
        std::exchange(whileBoxOpen, nullptr)();
    if (formAnswers.isEmpty()) {
        ++unprepared;
        return std::nullopt;
    }
    const std::optional<QMap<QString, QString>> typed = formAnswers.takeFirst();
    if (!typed)
        return std::nullopt;
    QList<FormField> answer = fields;
    for (FormField &field : answer)
        field.text = typed->value(field.name, field.text);
    return answer;
}

void ScriptedDialogs::showTable(
    const QString &objectName, const QString &title, const QStringList &headers, const QList<QStringList> &rows)
{
    tables << ShownTable { objectName, title, headers, rows };
    if (whileBoxOpen)
        std::exchange(whileBoxOpen, nullptr)();
}

const FormField *findField(const QList<FormField> &form, const QString &name)
{
    for (const FormField &field : form) {
        if (field.name == name)
            return &field;
    }
    return nullptr;
}

QString fieldText(const QList<FormField> &form, const QString &name)
{
    const FormField *field = findField(form, name);
    return field ? field->text : QString();
}

HttpClient::RequestId ScriptedHttp::start(const HttpRequest &request, Callback done)
{
    requests << request;
    const RequestId id = m_nextId++;
    m_pending.insert(id, std::move(done));
    const std::optional<HttpResponse> response = answer
        ? answer(request)
        : std::optional<HttpResponse>(failure(HttpFailure::Refused, QStringLiteral("no answer scripted")));
    if (response)
        QTimer::singleShot(0, this, [this, id, r = *response]() mutable { complete(id, std::move(r)); });
    return id;
}

void ScriptedHttp::complete(RequestId id, HttpResponse response)
{
    const Callback done = m_pending.take(id);
    if (!done)
        return;
    const bool outer = std::exchange(delivering, true);
    done(std::move(response));
    delivering = outer;
}

void ScriptedHttp::cancel(RequestId id)
{
    if (m_pending.remove(id))
        ++cancels;
}

void ScriptedHttp::abortAll()
{
    ++aborts;
    m_pending.clear();
}

QList<QUrl> ScriptedHttp::urls() const
{
    QList<QUrl> result;
    for (const HttpRequest &request : requests)
        result << request.url;
    return result;
}

HttpResponse ScriptedHttp::reply(int status, const QByteArray &contentType, const QByteArray &body)
{
    HttpResponse response;
    response.status = status;
    response.contentType = contentType;
    response.body = body;
    return response;
}

HttpResponse ScriptedHttp::failure(HttpFailure failure, const QString &error)
{
    HttpResponse response;
    response.failure = failure;
    response.error = error;
    return response;
}

ScriptedWindow::ScriptedWindow(HttpClient *http, Config config, bool keepVersionCheckTimer)
{
    Platform platform;
    platform.dialogs = &dialogs;
    platform.browser = &browser;
    platform.clipboard = &clipboard;
    platform.skin = &skin;
    platform.http = http;
    platform.quit = [this](int status) { quitStatuses << status; };
    window = std::make_unique<MainWindow>(platform, config);
    if (!keepVersionCheckTimer)
        find<QTimer>(QStringLiteral("Timer1"))->stop();
}

ScriptedWindow::~ScriptedWindow() = default;

QString ScriptedWindow::panel(int number) const
{
    const auto *label = find<QLabel>(QStringLiteral("S1_panel%1").arg(number));
    return label ? label->text() : QStringLiteral("<no panel>");
}

} // namespace quernfold::test
