// The window with its results store: the last session's list offered back, every change of the list kept,
// recent results reused instead of asked for again, a store that cannot work, and forgetting the history.
#include "support/scripted_platform.h"

#include "store/results_store.h"
#include "window/store_mirror.h"

#include <QAction>
#include <QMenu>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

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

// What a test waits for at most: a loaded machine or a sanitizer build is slow, never wrong.
constexpr int kWaitMs = 120000;

// A write lock on the store's file from a connection of the test's own, as a sqlite3 shell would hold it.
struct WriteLock {
    explicit WriteLock(const QString &path)
    {
        sqlite3_open(path.toUtf8().constData(), &db);
        // The store may be in the middle of a commit.
        sqlite3_busy_timeout(db, kWaitMs);
        held = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock() { sqlite3_close(db); }
    sqlite3 *db = nullptr;
    bool held = false;
};

// A row as one line with its key.
QString describe(const DomainRow &row)
{
    QString line = QString::number(keyValue(row.key)) + u' ' + row.domain;
    if (row.lookup)
        line += u'|' + row.lookup->record.recordNo + u'|' + row.lookup->status + u'|' + row.lookup->note;
    return line;
}

QStringList describeModel(const DomainListModel &model)
{
    QStringList rows;
    for (int position = 0; position < model.count(); ++position)
        rows << describe(model.row(position));
    return rows;
}

void restoreRows(ResultsStore &store, std::vector<DomainRow> *rows)
{
    bool arrived = false;
    store.restore([&](std::vector<DomainRow> restored) {
        *rows = std::move(restored);
        arrived = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(arrived, kWaitMs);
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
            const QByteArray page = pages.value(domain);
            if (domain.startsWith(u"down."_s) || page == "down")
                return ScriptedHttp::failure(HttpFailure::Refused);
            if (!page.isEmpty())
                return ScriptedHttp::reply(200, "text/html; charset=utf-8", page);
            return ScriptedHttp::reply(200, "text/html; charset=utf-8", recordPage(domain));
        };
        w = std::make_unique<ScriptedWindow>(&http, config);
    }
    // Starts the window and waits until the stored list is settled.
    void start()
    {
        QSignalSpy ready(w->window.get(), &MainWindow::listReady);
        w->window->load();
        QVERIFY(ready.count() == 1 || ready.wait(kWaitMs));
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
        QTRY_VERIFY_WITH_TIMEOUT(!w->window->isQuerying(), kWaitMs);
    }
    void select(int row) { w->window->selectRows({ model().keyAt(row) }); }
    void deleteRows(const std::vector<int> &positions)
    {
        std::vector<RowKey> rows;
        for (const int position : positions)
            rows.push_back(model().keyAt(position));
        w->window->selectRows(rows);
        if (rows.size() > 1)
            w->dialogs.messageAnswers << MessageAnswer::Yes;
        w->window->deleteSelectedRow();
    }
    DomainListModel &model() { return w->window->model(); }
    // What each row's lookup found changed, "-" for nothing, with the earlier record number.
    QStringList changes()
    {
        QStringList shown;
        for (int row = 0; row < model().count(); ++row) {
            const DomainRow *r = model().find(model().keyAt(row));
            const LookupCells *cells = r ? r->lookup.get() : nullptr;
            if (!cells || cells->change.isEmpty())
                shown << u"-"_s;
            else
                shown << cells->change + u" / "_s + (cells->previous ? cells->previous->record.recordNo : u"?"_s);
        }
        return shown;
    }

    ScriptedHttp http;
    // A page of its own for a domain instead of its record page; "down" fails the request.
    QHash<QString, QByteArray> pages;
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
                    std::vector<int> positions;
                    for (const QString &word : words.mid(1))
                        positions.push_back(word.toInt());
                    first.deleteRows(positions);
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
            QTRY_VERIFY_WITH_TIMEOUT(!second.w->window->isQuerying(), kWaitMs);
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
        QTRY_VERIFY_WITH_TIMEOUT(messages.contains({ message }), kWaitMs);
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
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), kWaitMs);
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

    // Three runs over a site whose answers change: the second run marks the rows whose filing appeared, was
    // cancelled or changed holder, not the one whose lookup failed; a restart brings the marks back, and the third
    // run, finding what the second found, marks nothing.
    void changedAnswers_markTheRowsThatChanged()
    {
        QTemporaryDir dir;
        const QStringList domains { u"a.cn"_s, u"b.cn"_s, u"c.cn"_s, u"d.cn"_s };
        const QByteArray noRecord = "<div>没有符合条件的记录</div>";
        const QByteArray deleted = QByteArray(recordPage(u"b.cn"_s)).replace("<tr>", "<tr style=\"color:#CCCCCC;\">");
        const QByteArray newHolder
            = QString::fromUtf8(recordPage(u"c.cn"_s)).replace(u"c.cn的主人"_s, u"新主人"_s).toUtf8();
        QStringList afterSecond;
        {
            Session session(dir.path());
            session.start();
            session.import(dir.path(), domains);
            session.pages.insert(u"a.cn"_s, noRecord);
            session.runBatch();
            ResultsStore &store = *session.w->window->resultsStore();
            // Every finished lookup makes or confirms one version; the comparisons come back before the count.
            QTRY_COMPARE_WITH_TIMEOUT(store.stats().historyWritten, 4, kWaitMs);
            QCOMPARE(session.changes(), (QStringList { u"-"_s, u"-"_s, u"-"_s, u"-"_s }));

            session.pages = { { u"b.cn"_s, deleted }, { u"c.cn"_s, newHolder }, { u"d.cn"_s, "down" } };
            session.runBatch();
            afterSecond = QStringList { u"新备案 / 无记录"_s, u"备案已注销 / 京ICP备4号"_s,
                u"备案人变更 / 京ICP备4号"_s, u"-"_s };
            QTRY_COMPARE_WITH_TIMEOUT(store.stats().historyWritten, 7, kWaitMs);
            QCOMPARE(session.changes(), afterSecond);
            QTRY_VERIFY_WITH_TIMEOUT(store.isSaved(), kWaitMs);
        }
        Session second(dir.path());
        second.w->dialogs.messageAnswers << MessageAnswer::Yes;
        second.start();
        QCOMPARE(second.changes(), afterSecond);
        second.pages = { { u"b.cn"_s, deleted }, { u"c.cn"_s, newHolder } };
        second.runBatch();
        ResultsStore &store = *second.w->window->resultsStore();
        QTRY_COMPARE_WITH_TIMEOUT(store.stats().historyWritten, 4, kWaitMs);
        QCOMPARE(second.changes(), (QStringList { u"-"_s, u"-"_s, u"-"_s, u"-"_s }));

        // 查看历史.., the list menu's last item: every version of the row's domain, newest first.
        auto *menu = second.w->window->findChild<QMenu *>(u"caozuo"_s);
        QCOMPARE(menu->actions().last()->objectName(), u"showHistory"_s);
        second.select(2);
        menu->actions().last()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(second.w->dialogs.tables.size(), 1, kWaitMs);
        const ScriptedDialogs::ShownTable &table = second.w->dialogs.tables.first();
        QCOMPARE(table.title, u"c.cn的历史结果"_s);
        QCOMPARE(table.headers.size(), 7);
        QCOMPARE(table.rows.size(), 2);
        QCOMPARE(table.rows[0].mid(2), (QStringList { u"京ICP备4号"_s, u"新主人"_s, u"企业"_s, u"c.cn网站"_s, kFinished }));
        QCOMPARE(table.rows[1][3], u"c.cn的主人"_s);
    }

    // A logout (SIGTERM) or a quick close right after a run: the history already holds the new version, so the
    // next run only confirms it; the mark is the one place the change is ever shown.
    void endRightAfterRun_keepsTheMarks()
    {
        QTemporaryDir dir;
        const QByteArray newHolder
            = QString::fromUtf8(recordPage(u"c.cn"_s)).replace(u"c.cn的主人"_s, u"新主人"_s).toUtf8();
        {
            Session session(dir.path());
            session.start();
            session.import(dir.path(), { u"c.cn"_s });
            session.runBatch();
            QTRY_COMPARE_WITH_TIMEOUT(session.w->window->resultsStore()->stats().historyWritten, 1, kWaitMs);
            session.pages.insert(u"c.cn"_s, newHolder);
            session.runBatch();
            QVERIFY(session.w->window->isComparing());
            session.w->window->endWithoutQuestion();
        }
        Session second(dir.path());
        second.w->dialogs.messageAnswers << MessageAnswer::Yes;
        second.start();
        QCOMPARE(second.model().cell(0, DomainListModel::HolderColumn), u"新主人"_s);
        QCOMPARE(second.changes(), (QStringList { u"备案人变更 / 京ICP备4号"_s }));
    }

    // A batch run that reuses the result a lookup marked shows the row without the mark (the reuse found nothing
    // new); the next start shows the row as the window last did.
    void reusedResult_afterAMark_isBackWithoutIt()
    {
        QTemporaryDir dir;
        const QByteArray newHolder
            = QString::fromUtf8(recordPage(u"c.cn"_s)).replace(u"c.cn的主人"_s, u"新主人"_s).toUtf8();
        QStringList shown;
        {
            Session session(dir.path(), 7);
            session.start();
            session.import(dir.path(), { u"c.cn"_s });
            session.runBatch();
            session.pages.insert(u"c.cn"_s, newHolder);
            session.select(0);
            session.w->window->querySelectedRow();
            QTRY_COMPARE_WITH_TIMEOUT(session.changes(), QStringList { u"备案人变更 / 京ICP备4号"_s }, kWaitMs);
            session.runBatch();
            QCOMPARE(session.http.requests.size(), 2);
            shown = session.changes();
            QCOMPARE(shown, QStringList { u"-"_s });
            QTRY_VERIFY_WITH_TIMEOUT(session.w->window->resultsStore()->isSaved(), kWaitMs);
        }
        Session second(dir.path());
        second.w->dialogs.messageAnswers << MessageAnswer::Yes;
        second.start();
        QCOMPARE(second.changes(), shown);
    }

    // Our own CSV read back brings its 变化 marks, and the list keeps them as it keeps every other cell.
    void importedChangeMarks_areBackAtTheNextStart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"export.csv"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u"ID,域名,备案号,备案人,备案类型,网站名称,查询状态,说明,变化\r\n"
                   "1,c.cn,京ICP备4号,新主人,企业,c.cn网站,查询完毕,,备案人变更\r\n"_s.toUtf8());
        file.close();
        {
            Session session(dir.path());
            session.start();
            session.w->window->importListFile(path);
            QCOMPARE(session.model().cell(0, DomainListModel::ChangeColumn), u"备案人变更"_s);
            QTRY_VERIFY_WITH_TIMEOUT(session.w->window->resultsStore()->isSaved(), kWaitMs);
        }
        Session second(dir.path());
        second.w->dialogs.messageAnswers << MessageAnswer::Yes;
        second.start();
        QCOMPARE(second.model().count(), 1);
        QCOMPARE(second.model().cell(0, DomainListModel::ChangeColumn), u"备案人变更"_s);
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
        QTRY_COMPARE_WITH_TIMEOUT(session.w->panel(2), u"已清除2条历史结果.."_s, kWaitMs);
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
        QVERIFY(ready.wait(kWaitMs));
        QCOMPARE(second.w->dialogs.boxes.size(), 2);
        QVERIFY(second.w->dialogs.boxes.at(0).text.startsWith(u"上次关闭时列表中有2个域名"_s));
        QVERIFY(second.w->dialogs.boxes.at(1).text.startsWith(u"列表中已有2个域名"_s));
        QCOMPARE(second.model().count(), 3);
    }

    // What the file is asked to write for a change of a few rows: those rows, never the list again.
    void deleteThenAdd_writesOnlyTheRowsThatChanged_data()
    {
        QTest::addColumn<std::vector<int>>("deleted");
        QTest::newRow("one row near the top") << std::vector<int> { 10 };
        QTest::newRow("the last rows") << std::vector<int> { 997, 998, 999 };
        QTest::newRow("nine scattered rows, taken out under one reset")
            << std::vector<int> { 1, 3, 5, 7, 9, 11, 13, 15, 17 };
    }
    void deleteThenAdd_writesOnlyTheRowsThatChanged()
    {
        QFETCH(std::vector<int>, deleted);
        QTemporaryDir dir;
        QStringList domains;
        for (int i = 0; i < 1000; ++i)
            domains << u"d%1.cn"_s.arg(i);
        Session session(dir.path());
        session.start();
        ResultsStore &store = *session.w->window->resultsStore();
        session.import(dir.path(), domains);
        QTRY_COMPARE_WITH_TIMEOUT(store.stats().rowsInserted, 1000, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(store.isSaved(), kWaitMs);
        const StoreStats before = store.stats();

        QSignalSpy saved(session.w->window.get(), &MainWindow::listSaved);
        session.deleteRows(deleted);
        session.w->dialogs.inputAnswers << u"added.cn"_s;
        session.w->window->addDomain();
        QTRY_VERIFY_WITH_TIMEOUT(!saved.isEmpty(), kWaitMs);
        const StoreStats after = store.stats();
        QCOMPARE(after.rowsDeleted - before.rowsDeleted, qint64(deleted.size()));
        QCOMPARE(after.rowsInserted - before.rowsInserted, 1);
        QCOMPARE(after.cellsWritten - before.cellsWritten, 0);
        const QStringList shown = snapshot(session.model());
        session.w.reset();

        Session next(dir.path());
        next.w->dialogs.messageAnswers << MessageAnswer::Yes;
        next.start();
        QCOMPARE(snapshot(next.model()), shown);
    }

    // A sqlite3 shell holds the file's write lock while the user imports, deletes, adds and runs a batch.
    void storeBusy_isSaidOnceAndEverythingIsSavedAfter()
    {
        QTemporaryDir dir;
        QStringList shown;
        {
            Session session(dir.path());
            session.start();
            QSignalSpy saved(session.w->window.get(), &MainWindow::listSaved);
            session.import(dir.path(), { u"a.cn"_s, u"b.cn"_s, u"c.cn"_s });
            QTRY_COMPARE_WITH_TIMEOUT(session.w->window->resultsStore()->stats().rowsInserted, 3, kWaitMs);

            QSignalSpy messages(session.w->window.get(), &MainWindow::messageWritten);
            auto lock = std::make_unique<WriteLock>(session.w->window->resultsStore()->path());
            QVERIFY(lock->held);
            session.import(dir.path(), { u"d.cn"_s, u"e.cn"_s, u"down.cn"_s }, MessageAnswer::Yes);
            session.deleteRows({ 1 });
            QTRY_VERIFY_WITH_TIMEOUT(messages.contains({ u"结果暂时无法保存,稍后重试.."_s }), kWaitMs);
            // Results and changes made while the file is held wait for it, in their order.
            session.runBatch();
            session.deleteRows({ 0 });
            session.w->dialogs.inputAnswers << u"f.cn"_s;
            session.w->window->addDomain();
            saved.clear();
            lock.reset();
            QTRY_VERIFY_WITH_TIMEOUT(messages.contains({ u"结果已全部保存.."_s }), kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(!saved.isEmpty(), kWaitMs);
            QCOMPARE(messages.count({ u"结果暂时无法保存,稍后重试.."_s }), 1);
            shown = snapshot(session.model());
            QCOMPARE(shown.size(), 5);
        }
        Session next(dir.path());
        next.w->dialogs.messageAnswers << MessageAnswer::Yes;
        next.start();
        QCOMPARE(snapshot(next.model()), shown);
    }

    // The list, its mirror and the store through a seeded sequence of every kind of change, now and then with
    // the file held by another connection or the program restarted; whenever the mirror has caught up, the file
    // holds exactly the model's rows with their keys and cells, and no change cost the file more rows than it
    // added. QUERNFOLD_SEED picks another sequence.
    void randomChanges_leaveTheStoreEqualToTheList()
    {
        const quint32 seed = qEnvironmentVariableIsSet("QUERNFOLD_SEED")
            ? quint32(qEnvironmentVariableIntValue("QUERNFOLD_SEED"))
            : 20261207u;
        QRandomGenerator random(seed);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"quernfold.db"_s);
        auto model = std::make_unique<DomainListModel>();
        auto store = std::make_unique<ResultsStore>(path);
        // As the window does: the file is open and settled before the list changes (or the file is held).
        const auto settle = [&] {
            ListCounts counts;
            bool counted = false;
            store->listCounts([&](ListCounts answer) {
                counts = answer;
                counted = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(counted, kWaitMs);
            model->reserveKeysBelow(counts.nextKey);
        };
        settle();
        if (QTest::currentTestFailed())
            return;
        store->dropList();
        // Small slices, so that a few dozen rows already go over in several.
        constexpr int kSlice = 7;
        auto mirror = std::make_unique<StoreMirror>(*model, *store, nullptr, kSlice);
        std::unique_ptr<WriteLock> lock;
        std::vector<DomainRow> lastRemoved;
        QStringList steps;
        int nextDomain = 0;
        qint64 highestStored = 0;
        // Rows the file may take since the last check: added, put back, or the whole list after a reset.
        qint64 insertBudget = 0;
        qint64 insertedBefore = 0;
        // A reset writes the list anew, unless it only takes out rows the store was told about before.
        const auto budgetResets = [&] {
            connect(model.get(), &QAbstractItemModel::modelReset, this, [&] {
                if (!model->isDroppingRows())
                    insertBudget += model->count();
            });
        };
        budgetResets();
        const auto newRows = [&](int count, bool withCells) {
            std::vector<DomainRow> rows;
            for (int i = 0; i < count; ++i) {
                const QString domain = u"r%1.cn"_s.arg(nextDomain++);
                rows.push_back(DomainRow { domain,
                    withCells ? std::make_unique<LookupCells>(LookupCells { {}, u"查询中"_s, domain }) : nullptr });
            }
            return rows;
        };
        const auto removeKeys = [&](std::vector<RowKey> keys) { lastRemoved = model->removeRows(std::move(keys)); };
        const auto check = [&] {
            QTRY_VERIFY2_WITH_TIMEOUT(mirror->isCaughtUp(), qPrintable(steps.join(u", "_s)), kWaitMs);
            std::vector<DomainRow> stored;
            restoreRows(*store, &stored);
            QStringList storedLines;
            for (const DomainRow &row : stored)
                storedLines << describe(row);
            QVERIFY2(storedLines == describeModel(*model), qPrintable(u"seed %1: "_s.arg(seed) + steps.join(u", "_s)));
            const qint64 inserted = store->stats().rowsInserted - insertedBefore;
            QVERIFY2(inserted <= insertBudget,
                qPrintable(u"seed %1: %2 rows written for %3 changed: "_s.arg(seed).arg(inserted).arg(insertBudget)
                    + steps.join(u", "_s)));
            insertedBefore = store->stats().rowsInserted;
            insertBudget = 0;
            if (model->count() > 0)
                highestStored = std::max(highestStored, keyValue(model->keyAt(model->count() - 1)));
            steps.clear();
        };
        for (int step = 0; step < 400; ++step) {
            const int count = model->count();
            const int kind = int(random.bounded(100));
            if (kind < 25) {
                const int rows = int(random.bounded(1, 40));
                const bool withCells = random.bounded(4) == 0;
                steps << u"add %1%2"_s.arg(rows).arg(withCells ? u" with cells"_s : QString());
                insertBudget += rows;
                model->appendRows(newRows(rows, withCells));
            } else if (kind < 40 && count > 0) {
                const int first = int(random.bounded(count));
                const int runs = int(random.bounded(1, 4));
                std::vector<RowKey> keys;
                for (int run = 0, at = first; run < runs && at < count; ++run, at += 3) {
                    for (int i = at; i < std::min(count, at + 2); ++i)
                        keys.push_back(model->keyAt(i));
                }
                steps << u"remove %1 rows from %2"_s.arg(keys.size()).arg(first);
                removeKeys(std::move(keys));
            } else if (kind < 48 && count > 20) {
                std::vector<RowKey> keys;
                for (int i = int(random.bounded(2)); i < count; i += 2)
                    keys.push_back(model->keyAt(i));
                steps << u"remove every other row (%1)"_s.arg(keys.size());
                removeKeys(std::move(keys));
            } else if (kind < 55 && !lastRemoved.empty()) {
                steps << u"put %1 rows back"_s.arg(lastRemoved.size());
                insertBudget += qint64(lastRemoved.size());
                model->reinsertRows(std::exchange(lastRemoved, {}));
            } else if (kind < 75 && count > 0) {
                const int position = int(random.bounded(count));
                steps << u"write row %1"_s.arg(position);
                model->setLookupResult(model->keyAt(position), { u"R%1"_s.arg(step), {}, {}, {} },
                    random.bounded(2) ? u"查询完毕"_s : u"查询中"_s, u"n%1"_s.arg(step));
            } else if (kind < 80) {
                const int rows = int(random.bounded(0, 30));
                steps << u"replace by %1"_s.arg(rows);
                model->replaceRows(newRows(rows, random.bounded(2) == 0));
            } else if (kind < 83) {
                steps << u"clear"_s;
                model->clear();
            } else if (kind < 88) {
                if (lock) {
                    steps << u"release the file"_s;
                    lock.reset();
                } else {
                    steps << u"hold the file"_s;
                    lock = std::make_unique<WriteLock>(path);
                    QVERIFY(lock->held);
                }
            } else if (kind < 91 && !lock) {
                check();
                if (QTest::currentTestFailed())
                    return;
                steps << u"restart"_s;
                const QStringList before = describeModel(*model);
                mirror.reset();
                store.reset();
                model = std::make_unique<DomainListModel>();
                store = std::make_unique<ResultsStore>(path);
                settle();
                if (QTest::currentTestFailed())
                    return;
                QVERIFY(keyValue(model->nextKey()) > highestStored);
                std::vector<DomainRow> stored;
                restoreRows(*store, &stored);
                model->restoreRows(std::move(stored));
                QCOMPARE(describeModel(*model), before);
                mirror = std::make_unique<StoreMirror>(*model, *store, nullptr, kSlice);
                budgetResets();
                lastRemoved.clear();
                insertedBefore = store->stats().rowsInserted;
            } else if (!lock && random.bounded(2) == 0) {
                check();
                if (QTest::currentTestFailed())
                    return;
            }
        }
        lock.reset();
        check();
    }
};

QTEST_MAIN(TestWindowStore)
#include "tst_window_store.moc"
