// The version check as the window runs it on Timer1, with the service's replies scripted.
#include "support/scripted_platform.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quernfold;
using namespace quernfold::test;

namespace {

QByteArray reply(const char *result, const char *version, const char *sid, const char *must)
{
    return QByteArray("{\"result\":") + result + ",\"info\":{\"version\":" + version + ",\"sid\":" + sid
        + ",\"must\":" + must + "}}";
}

struct CheckWindow {
    CheckWindow()
    {
        config.versionBase = QStringLiteral("https://version.test");
        config.downloadBase = QStringLiteral("https://download.test.example");
        w = std::make_unique<ScriptedWindow>(&http, config);
        w->window->load();
    }
    void answerWith(const QByteArray &body, bool ok = true)
    {
        http.answerAlways(ok ? ScriptedHttp::reply(200, QByteArrayLiteral("application/json"), body)
                             : ScriptedHttp::failure(HttpFailure::Refused, QStringLiteral("refused")));
    }
    bool timer1Active() { return w->find<QTimer>(QStringLiteral("Timer1"))->isActive(); }

    Config config;
    ScriptedHttp http;
    std::unique_ptr<ScriptedWindow> w;
};

} // namespace

class TestWindowUpdate : public QObject
{
    Q_OBJECT
private slots:
    void check_followsTheDecisionTable_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<MessageAnswer>>("answer");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<bool>("ends");
        const QString failed = QStringLiteral("检测失败,请先使用当前版本");
        const QString checking = QStringLiteral("正在检测版本更新");
        const QString download = QStringLiteral("https://download.test.example/index.php/Works/detail/sid/");
        QTest::newRow("same version") << reply("\"1\"", "\"2.0\"", "\"15\"", "\"0\"") << std::optional<MessageAnswer>()
                                      << QString() << QStringLiteral("当前软件为最新版本,欢迎使用Tarnwick软件..")
                                      << QString() << false;
        QTest::newRow("reported failure wins")
            << reply("\"0\"", "\"9.9\"", "\"15\"", "\"1\"") << std::optional(MessageAnswer::Ok) << failed << checking
            << QString() << false;
        QTest::newRow("failure as number")
            << reply("0", "\"2.1\"", "\"15\"", "\"0\"") << std::optional(MessageAnswer::Ok) << failed << checking
            << QString() << false;
        QTest::newRow("older, optional, no")
            << reply("1", "\"1.9\"", "\"15\"", "\"0\"") << std::optional(MessageAnswer::No)
            << QStringLiteral("发现最新版本1.9，是否现在更新?") << QStringLiteral("欢迎使用Tarnwick软件..") << QString()
            << false;
        QTest::newRow("2.00 is not 2.0") << reply("1", "\"2.00\"", "\"15\"", "0") << std::optional(MessageAnswer::No)
                                         << QStringLiteral("发现最新版本2.00，是否现在更新?")
                                         << QStringLiteral("欢迎使用Tarnwick软件..") << QString() << false;
        QTest::newRow("mandatory, no") << reply("1", "\"2.1\"", "\"15\"", "\"1\"") << std::optional(MessageAnswer::No)
                                       << QStringLiteral("发现最新版本2.1，是否现在更新?") << checking << QString()
                                       << true;
        QTest::newRow("yes opens the page")
            << reply("1", "\"2.1\"", "\"15\"", "\"0\"") << std::optional(MessageAnswer::Yes)
            << QStringLiteral("发现最新版本2.1，是否现在更新?") << checking << download + QStringLiteral("15") << true;
        QTest::newRow("yes with empty sid")
            << reply("1", "\"2.1\"", "\"\"", "\"1\"") << std::optional(MessageAnswer::Yes)
            << QStringLiteral("发现最新版本2.1，是否现在更新?") << checking << download << true;
        QTest::newRow("not json") << QByteArray("<html>maintenance</html>") << std::optional(MessageAnswer::Ok)
                                  << failed << checking << QString() << false;
        QTest::newRow("info missing") << QByteArray("{\"result\":\"1\"}") << std::optional(MessageAnswer::Ok) << failed
                                      << checking << QString() << false;
        QTest::newRow("member missing") << QByteArray("{\"result\":\"1\",\"info\":{\"version\":\"2.0\",\"sid\":\"1\"}}")
                                        << std::optional(MessageAnswer::Ok) << failed << checking << QString() << false;
        // The reply is data, never code: a script in it is just text that is not an object.
        QTest::newRow("script is not run")
            << QByteArray("(function(){return {result:1}})()") << std::optional(MessageAnswer::Ok) << failed << checking
            << QString() << false;
    }
    void check_followsTheDecisionTable()
    {
        QFETCH(QByteArray, body);
        QFETCH(std::optional<MessageAnswer>, answer);
        QFETCH(QString, box);
        QFETCH(QString, panel);
        QFETCH(QString, opened);
        QFETCH(bool, ends);
        CheckWindow t;
        t.answerWith(body);
        if (answer)
            t.w->dialogs.messageAnswers << *answer;
        // A box opened from inside the client's callback would hold up every other reply delivered with it.
        bool boxInsideReply = false;
        t.w->dialogs.whileBoxOpen = [&] { boxInsideReply = t.http.delivering; };
        // Buttons disabled by something else must come back through enableWorkingButtons at the end of the check.
        t.w->find<QPushButton>(QStringLiteral("Command1_0"))->setEnabled(false);
        t.w->window->versionCheckTick();
        // The check ends with enableWorkingButtons or with the end of the program.
        QTRY_VERIFY(t.w->find<QPushButton>(QStringLiteral("Command1_0"))->isEnabled() || !t.w->quitStatuses.isEmpty());

        QCOMPARE(
            t.http.urls(), QList<QUrl> { QUrl(QStringLiteral("https://version.test/index.php/Index/soft_version")) });
        QCOMPARE(t.w->dialogs.boxes.size(), box.isEmpty() ? 0 : 1);
        if (!box.isEmpty()) {
            QCOMPARE(t.w->dialogs.boxes.first().text, box);
            QCOMPARE(t.w->dialogs.boxes.first().title, QStringLiteral("提示"));
            QCOMPARE(t.w->dialogs.boxes.first().style,
                (answer == MessageAnswer::Ok ? MessageButtons::Ok : MessageButtons::YesNo) | MessageIcon::Information);
        }
        QVERIFY(!boxInsideReply);
        QCOMPARE(t.w->panel(2), panel);
        QCOMPARE(t.w->browser.opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl> { QUrl(opened) });
        QCOMPARE(t.w->quitStatuses, ends ? QList<int> { 0 } : QList<int>());
        QVERIFY(!t.timer1Active());
        if (!ends)
            QVERIFY(t.w->find<QPushButton>(QStringLiteral("Command1_0"))->isEnabled());
        QCOMPARE(t.w->dialogs.unprepared, 0);
    }

    void placeholderService_isNeverAsked_data()
    {
        QTest::addColumn<QString>("versionBase");
        QTest::addColumn<bool>("placeholder");
        QTest::newRow("built-in default") << QStringLiteral("https://version.example") << true;
        QTest::newRow("any case, port, final dot") << QStringLiteral("https://Version.EXAMPLE.:8443") << true;
        QTest::newRow("the bare name") << QStringLiteral("http://example") << true;
        QTest::newRow("a real host with the word") << QStringLiteral("https://example.com") << false;
        QTest::newRow("ending in the letters only") << QStringLiteral("https://myexample") << false;
        QTest::newRow("local service") << QStringLiteral("http://127.0.0.1:8080") << false;
    }
    void placeholderService_isNeverAsked()
    {
        QFETCH(QString, versionBase);
        QFETCH(bool, placeholder);
        ScriptedHttp http;
        Config config;
        config.versionBase = versionBase;
        ScriptedWindow w(&http, config, true);
        w.window->load();
        const auto *timer1 = w.find<QTimer>(QStringLiteral("Timer1"));
        if (placeholder) {
            QCOMPARE(w.panel(2), QStringLiteral("欢迎使用Tarnwick软件.."));
            QVERIFY(!timer1->isActive());
            for (const char *name : { "Command1_0", "Command1_2", "Command1_3", "Command2" })
                QVERIFY2(w.find<QPushButton>(QString::fromLatin1(name))->isEnabled(), name);
        } else {
            QCOMPARE(w.panel(2), QStringLiteral("正在检测版本更新"));
            QVERIFY(timer1->isActive());
        }
        QVERIFY(http.requests.isEmpty());
        QCOMPARE(w.dialogs.boxes.size(), 0);
    }

    void check_requestFailureTakesTheFailurePath()
    {
        CheckWindow t;
        t.answerWith(QByteArray(), false);
        t.w->dialogs.messageAnswers << MessageAnswer::Ok;
        t.w->window->versionCheckTick();
        QTRY_COMPARE(t.w->dialogs.boxes.size(), 1);
        QCOMPARE(t.w->dialogs.boxes.first().text, QStringLiteral("检测失败,请先使用当前版本"));
        QVERIFY(t.w->quitStatuses.isEmpty());
        QVERIFY(!t.timer1Active());
    }

    void check_runsOnFirstTickAndNeverTwice()
    {
        CheckWindow t;
        ScriptedWindow running(&t.http, t.config, true);
        running.window->load();
        t.answerWith(reply("\"1\"", "\"2.1\"", "\"15\"", "\"0\""));
        // More ticks arrive while the offer is open; none of them may start a second check.
        running.dialogs.whileBoxOpen = [&running] {
            for (int i = 0; i < 3; ++i)
                running.window->versionCheckTick();
        };
        running.dialogs.messageAnswers << MessageAnswer::No;
        QTRY_COMPARE_WITH_TIMEOUT(running.dialogs.boxes.size(), 1, 5000);
        QCOMPARE(t.http.requests.size(), 1);
        QVERIFY(!running.window->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
        running.window->versionCheckTick();
        QCOMPARE(t.http.requests.size(), 1);
        QCOMPARE(running.panel(2), QStringLiteral("欢迎使用Tarnwick软件.."));
    }

    void greeting_leavesAMessageWrittenMeanwhile()
    {
        // A list named on the command line is imported while the check still waits; its count must not be
        // replaced a moment later by the greeting.
        QTemporaryDir dir;
        const QString list = dir.filePath(QStringLiteral("list.txt"));
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("a.cn\nb.cn\n");
        file.close();
        CheckWindow t;
        t.http.answer = [](const HttpRequest &) { return std::nullopt; };
        t.w->window->versionCheckTick();
        t.w->window->importListFile(list);
        const QString count = QStringLiteral("导入完毕，共导入2个域名。");
        QCOMPARE(t.w->panel(2), count);
        // The check ends by handing the buttons back.
        auto *add = t.w->find<QPushButton>(QStringLiteral("Command1_0"));
        add->setEnabled(false);
        t.http.complete(
            t.http.pendingIds().first(), ScriptedHttp::reply(200, "application/json", reply("1", "\"2.0\"", "1", "0")));
        QTRY_VERIFY(add->isEnabled());
        QCOMPARE(t.w->panel(2), count);
    }

    void closeWhileCheckWaits_endsWithoutFurtherBoxes()
    {
        CheckWindow t;
        t.w->dialogs.messageAnswers << MessageAnswer::Yes;
        t.http.answer = [](const HttpRequest &) { return std::nullopt; };
        t.w->window->versionCheckTick();
        QCOMPARE(t.http.pendingIds().size(), 1);
        // The user closes the window while the request is outstanding; the close abandons it.
        t.w->window->close();
        QVERIFY(t.http.pendingIds().isEmpty());
        QCOMPARE(t.http.aborts, 1);
        QCOMPARE(t.w->quitStatuses, QList<int> { 0 });
        QCOMPARE(t.w->dialogs.boxes.size(), 1);
        QCOMPARE(t.w->dialogs.boxes.first().text, QStringLiteral("是否确定退出软件?"));
        QCOMPARE(t.w->panel(2), QStringLiteral("正在检测版本更新"));
    }
};

QTEST_MAIN(TestWindowUpdate)
#include "tst_window_update.moc"
