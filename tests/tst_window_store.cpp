// The window with its results store: the last session's list offered back, every change of the list kept,
// recent results reused instead of asked for again, a store that cannot work, and forgetting the history.
#include "support/scripted_platform.h"

#include "store/results_store.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quernfold;
using namespace quernfold::test;
using namespace Qt::StringLiterals;

namespace {

const QString kFinished = u"查询完毕"_s;

QByteArray recordPage(const QString &domain)
{
    return (u"<tbody id=\"table_tr\"><tr><td>1</td><td>"_s + domain + u"的主人</td><td>企业</td><td><a>京ICP备"_s
        + QString::number(domain.size()) + u"号</a></td><td>"_s + domain + u"网站</td></tr>"_s)
        .toUtf8();
}

// Every cell and the note of every row, as the window shows them.
QStringList snapshot(const DomainListModel &model)
{
    QStringList rows;
    for (int row = 0; row < model.count(); ++row) {
        QStringList cells;
        // The store keeps the seven cells and the note; the time is not kept yet.
        for (int column = 0; column < DomainListModel::BaseColumnCount; ++column)
            cells << model.cell(row, DomainListModel::Column(column));
        rows << cells.join(u'|') + u'#' + model.note(row);
    }
    return rows;
}

// One start of the program on a store in `folder`, its answers prepared by the caller.
struct Session {
    explicit Session(const QString &folder, int reuseDays = 0)
    {
        Config config;
        config.storePath = folder + u"/quernfold.db"_s;
        config.settings.effective.lookupBase = u"http://lookup.test"_s;
        config.settings.effective.retries = 0;
        config.settings.effective.reuseDays = reuseDays;
        http.answer = [this](const HttpRequest &request) -> std::optional<HttpResponse> {
            const QString domain = request.url.path().section(u'/', 2).chopped(5);
            if (domain.startsWith(u"down."_s))
                return ScriptedHttp::failure(HttpFailure::Refused);
            return ScriptedHttp::reply(200, "text/html; charset=utf-8", recordPage(domain));
        };
        w = std::make_unique<ScriptedWindow>(&http, config);
    }
    // Starts the window and waits until the stored list is settled.
    void start()
    {
        QSignalSpy ready(w->window.get(), &MainWindow::listReady);
        w->window->load();
        QVERIFY(ready.count() == 1 || ready.wait(5000));
    }
    void import(const QString &folder, const QStringList &domains, std::optional<MessageAnswer> appendAnswer = {})
    {
        const QString path = folder + u"/list.txt"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(domains.join(u'\n').toUtf8());
        file.close();
        if (appendAnswer)
            w->dialogs.messageAnswers << *appendAnswer;
        w->window->importListFile(path);
    }
    void runBatch()
    {
        w->find<QPushButton>(u"Command2"_s)->click();
        QTRY_VERIFY(!w->window->isQuerying());
    }
    void select(int row) { w->window->selectRows({ model().keyAt(row) }); }
    DomainListModel &model() { return w->window->model(); }

    ScriptedHttp http;
    std::unique_ptr<ScriptedWindow> w;
};

} // namespace

class TestWindowStore : public QObject
{
    Q_OBJECT
private slots:
    void changes_areBackAtTheNextStart_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("finished");
        QTest::newRow("import") << QStringList { u"import a.cn b.cn c.cn"_s } << 0;
        QTest::newRow("import, run, one row unreachable")
            << QStringList { u"import a.cn down.cn c.cn"_s, u"run"_s } << 2;
        QTest::newRow("run, then delete and add")
            << QStringList { u"import a.cn b.cn c.cn d.cn"_s, u"run"_s, u"delete 1"_s, u"add e.cn"_s } << 3;
        QTest::newRow("append after a run")
            << QStringList { u"import a.cn b.cn"_s, u"run"_s, u"append c.cn a.cn"_s } << 2;
        QTest::newRow("cleared") << QStringList { u"import a.cn"_s, u"run"_s, u"clear"_s } << 0;
        // Nine rows apart are taken out under one reset, not nine announced removals.
        QTest::newRow("many scattered rows deleted")
            << QStringList { u"import a0.cn a1.cn a2.cn a3.cn a4.cn a5.cn a6.cn a7.cn a8.cn a9.cn a10.cn a11.cn a12.cn "
                             u"a13.cn a14.cn a15.cn a16.cn a17.cn a18.cn a19.cn"_s,
                   u"run"_s, u"delete 1 3 5 7 9 11 13 15 17"_s }
            << 11;
    }
    void changes_areBackAtTheNextStart()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, finished);
        QTemporaryDir dir;
        QStringList shown;
        {
            Session first(dir.path());
            first.start();
            for (const QString &step : std::as_const(steps)) {
                const QStringList words = step.split(u' ');
                if (words.first() == u"import"_s)
                    first.import(dir.path(), words.mid(1));
                else if (words.first() == u"append"_s)
                    first.import(dir.path(), words.mid(1), MessageAnswer::Yes);
                else if (words.first() == u"run"_s)
                    first.runBatch();
                else if (words.first() == u"delete"_s) {
                    std::vector<RowKey> rows;
                    for (const QString &word : words.mid(1))
                        rows.push_back(first.model().keyAt(word.toInt()));
                    first.w->window->selectRows(rows);
                    if (rows.size() > 1)
                        first.w->dialogs.messageAnswers << MessageAnswer::Yes;
                    first.w->window->deleteSelectedRow();
                } else if (words.first() == u"add"_s) {
                    first.w->dialogs.inputAnswers << words.at(1);
                    first.w->window->addDomain();
                } else if (words.first() == u"clear"_s) {
                    first.w->dialogs.messageAnswers << MessageAnswer::Yes;
                    first.w->window->clearList();
                }
            }
            shown = snapshot(first.model());
            QCOMPARE(first.w->dialogs.unprepared, 0);
        } // the window closes; what it handed over is in the file

        Session second(dir.path());
        second.w->dialogs.messageAnswers << MessageAnswer::Yes;
        second.start();
        if (shown.isEmpty()) {
            QVERIFY(second.w->dialogs.boxes.isEmpty());
        } else {
            QCOMPARE(second.w->dialogs.boxes.size(), 1);
            const AskedBox &asked = second.w->dialogs.boxes.first();
            QCOMPARE(asked.text,
                u"上次关闭时列表中有%1个域名(其中%2个已查询完毕),是否恢复?"_s.arg(shown.size()).arg(finished));
            QCOMPARE(asked.title, u"提示"_s);
            QCOMPARE(asked.style, MessageButtons::YesNo | MessageIcon::Information);
        }
        QCOMPARE(snapshot(second.model()), shown);
    }

    void restoreDeclined_startsEmptyAndKeepsTheHistoryForReuse()
    {
        QTemporaryDir dir;
        {
            Session first(dir.path());
            first.start();
            first.import(dir.path(), { u"a.cn"_s, u"b.cn"_s });
            first.runBatch();
        }
        {
            Session second(dir.path(), 7);
            second.w->dialogs.messageAnswers << MessageAnswer::No;
            second.start();
            QCOMPARE(second.model().count(), 0);
            QCOMPARE(second.w->dialogs.boxes.size(), 1);

            // A run over a list of known and new domains asks the site only about the new one.
            second.import(dir.path(), { u"a.cn"_s, u"c.cn"_s, u"down.cn"_s });
            QSignalSpy messages(second.w->window.get(), &MainWindow::messageWritten);
            second.runBatch();
            QCOMPARE(second.http.requests.size(), 2);
            QVERIFY(messages.contains({ u"开始查询,当前共有2个域名需查询.."_s }));
            QCOMPARE(second.model().cell(0, DomainListModel::StatusColumn), kFinished);
            QCOMPARE(second.model().cell(0, DomainListModel::HolderColumn), u"a.cn的主人"_s);
            const QString tip = second.model().index(0, DomainListModel::StatusColumn).data(Qt::ToolTipRole).toString();
            QVERIFY2(QRegularExpression(u"^复用\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d的查询结果$"_s).match(tip).hasMatch(),
                qPrintable(tip));
            // A reused result is finished, not a warning.
            QVERIFY(!second.model().index(0, 0).data(DomainListModel::NoteRole).isValid());

            // 查询域名 always asks the site.
            second.select(0);
            second.w->window->querySelectedRow();
            QTRY_VERIFY(!second.w->window->isQuerying());
            QCOMPARE(second.http.requests.size(), 3);
            QCOMPARE(second.http.requests.last().url.path(), u"/s-0/a.cn.html"_s);
        }
        // What the second session built after declining is what the next start brings back.
        Session third(dir.path());
        third.w->dialogs.messageAnswers << MessageAnswer::Yes;
        third.start();
        QCOMPARE(third.model().count(), 3);
    }

    void reuseOff_asksTheSiteAboutEveryRow()
    {
        QTemporaryDir dir;
        Session session(dir.path());
        session.start();
        session.import(dir.path(), { u"a.cn"_s });
        session.runBatch();
        session.runBatch();
        QCOMPARE(session.http.requests.size(), 2);
    }

    void storeThatCannotWork_isSaidOnceAndTheWindowGoesOn_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder under a file")
            << u"/dev/null/quernfold"_s
            << u"结果库不可用,本次的列表和结果不会自动保存:无法建立文件夹/dev/null/quernfold.."_s;
    }
    void storeThatCannotWork_isSaidOnceAndTheWindowGoesOn()
    {
        QFETCH(QString, folder);
        QFETCH(QString, message);
        Session session(folder);
        QSignalSpy messages(session.w->window.get(), &MainWindow::messageWritten);
        session.start();
        QTRY_VERIFY(messages.contains({ message }));
        session.w->dialogs.inputAnswers << u"a.cn"_s;
        session.w->window->addDomain();
        QCOMPARE(session.model().count(), 1);
        QCOMPARE(messages.count({ message }), 1);
    }

    void secondCopy_leavesTheFirstCopysListAlone()
    {
        QTemporaryDir dir;
        Session first(dir.path());
        first.start();
        first.import(dir.path(), { u"a.cn"_s, u"b.cn"_s });

        Session second(dir.path());
        QSignalSpy messages(second.w->window.get(), &MainWindow::messageWritten);
        second.start();
        QTRY_VERIFY(!messages.isEmpty());
        QVERIFY2(messages.last().first().toString().startsWith(u"结果库不可用,本次的列表和结果不会自动保存:"_s),
            qPrintable(messages.last().first().toString()));
        QVERIFY(second.w->dialogs.boxes.isEmpty());
        second.import(dir.path(), { u"c.cn"_s });
        second.runBatch();
        second.w.reset();
        first.w.reset();

        // The first copy's list is what comes back; the second copy's lookup went into the history.
        Session third(dir.path(), 7);
        third.w->dialogs.messageAnswers << MessageAnswer::Yes;
        third.start();
        QCOMPARE(third.model().count(), 2);
        third.import(dir.path(), { u"c.cn"_s }, MessageAnswer::No);
        third.runBatch();
        QVERIFY(third.http.requests.isEmpty());
    }

    void clearHistory_asksThenSaysHowMany()
    {
        QTemporaryDir dir;
        Session session(dir.path(), 7);
        session.start();
        session.import(dir.path(), { u"a.cn"_s, u"b.cn"_s, u"down.cn"_s });
        session.runBatch();
        session.w->dialogs.messageAnswers << MessageAnswer::No << MessageAnswer::Yes;
        auto *clear = session.w->window->findChild<QAction *>(u"clearHistory"_s);
        clear->trigger();
        clear->trigger();
        QCOMPARE(session.w->dialogs.boxes.size(), 2);
        QCOMPARE(session.w->dialogs.boxes.first().style, MessageButtons::YesNo | MessageIcon::Information);
        QTRY_COMPARE(session.w->panel(2), u"已清除2条历史结果.."_s);
        session.runBatch();
        QCOMPARE(session.http.requests.size(), 6);
    }

    void listNamedAtStart_waitsForTheRestoreQuestion()
    {
        QTemporaryDir dir;
        {
            Session first(dir.path());
            first.start();
            first.import(dir.path(), { u"a.cn"_s, u"b.cn"_s });
        }
        Session second(dir.path());
        const QString path = dir.filePath(u"more.txt"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("c.cn\n");
        file.close();
        // Bring the list back, then append the file to it.
        second.w->dialogs.messageAnswers << MessageAnswer::Yes << MessageAnswer::Yes;
        QSignalSpy ready(second.w->window.get(), &MainWindow::listReady);
        second.w->window->load();
        second.w->window->importListFile(path);
        QVERIFY(ready.wait(5000));
        QCOMPARE(second.w->dialogs.boxes.size(), 2);
        QVERIFY(second.w->dialogs.boxes.at(0).text.startsWith(u"上次关闭时列表中有2个域名"_s));
        QVERIFY(second.w->dialogs.boxes.at(1).text.startsWith(u"列表中已有2个域名"_s));
        QCOMPARE(second.model().count(), 3);
    }
};

QTEST_MAIN(TestWindowStore)
#include "tst_window_store.moc"
