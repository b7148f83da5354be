// The batch run and the selected-row query as the window drives them, against the local site.
#include "lookup_site.h"
#include "support/scripted_platform.h"

#include "domainlist/export_file.h"
#include "platform/curl_http.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

using namespace quernfold;
using namespace quernfold::test;

namespace {

struct LookupWindow {
    explicit LookupWindow(int timeoutMs = 10000, const std::function<void(LookupSettings &)> &adjust = {})
        : http(timeoutMs)
    {
        if (!site.listen())
            qFatal("the local site did not start");
        Config config;
        config.settings.effective.lookupBase = site.baseUrl();
        config.settings.effective.retries = 0;
        if (adjust)
            adjust(config.settings.effective);
        w = std::make_unique<ScriptedWindow>(&http, config);
        w->window->load();
        QObject::connect(
            w->window.get(), &MainWindow::messageWritten, [this](const QString &text) { messages << text; });
        // Runs `atRowStart` whenever a row is marked "查询中", i.e. while its page is being fetched.
        QObject::connect(&model(), &QAbstractItemModel::dataChanged, [this](const QModelIndex &from) {
            if (from.column() == DomainListModel::StatusColumn
                && model().cell(from.row(), DomainListModel::StatusColumn) == QStringLiteral("查询中")
                && model().note(from.row()).isEmpty() && atRowStart)
                atRowStart(from.row());
        });
    }
    DomainListModel &model() { return w->window->model(); }
    QPushButton *button(const char *name) { return w->find<QPushButton>(QString::fromLatin1(name)); }
    DomainListView *list() { return w->find<DomainListView>(QStringLiteral("ListView1")); }
    // Clicks 批量查询 (or runs `start`) and waits for the run to end.
    bool run(const std::function<void()> &start = {}, int timeoutMs = 30000)
    {
        if (start)
            start();
        else
            button("Command2")->click();
        return QTest::qWaitFor([this] { return !w->window->isQuerying(); }, timeoutMs);
    }
    QStringList targets() const
    {
        QStringList result;
        for (const site::RecordedRequest &request : site.requests())
            result << QString::fromUtf8(request.target);
        return result;
    }
    QStringList rowCells(int row)
    {
        QStringList cells;
        for (int column = DomainListModel::RecordNoColumn; column < DomainListModel::BaseColumnCount; ++column)
            cells << model().cell(row, DomainListModel::Column(column));
        return cells;
    }
    void select(int row) { w->window->selectRows({ model().keyAt(row) }); }

    site::LookupSite site;
    CurlHttpClient http;
    std::unique_ptr<ScriptedWindow> w;
    QStringList messages;
    std::function<void(int)> atRowStart;
};

QStringList found(const QString &domain)
{
    const FilingRecord r = site::expectedRecord(domain);
    return { r.recordNo, r.holder, r.recordType, r.siteName, QStringLiteral("查询完毕") };
}

const QStringList kUntouched { QString(), QString(), QString(), QString(), QString() };
const QStringList kFetching { QString(), QString(), QString(), QString(), QStringLiteral("查询中") };
const QStringList kFailed { QString(), QString(), QString(), QString(), QStringLiteral("查询失败") };
const QString kNotReached = QStringLiteral("未查询(已停止)");

} // namespace

class TestWindowLookup : public QObject
{
    Q_OBJECT
private slots:
    void batch_threeRows_fetchesInOrderOneAtATimeWithProgress()
    {
        LookupWindow t;
        t.model().setDomains({ QStringLiteral("a.com"), QStringLiteral("b.cn"), QStringLiteral("a.com") });
        QList<int> requestsAtRowStart;
        QList<bool> controlsLocked;
        t.atRowStart = [&](int) {
            requestsAtRowStart << int(t.site.requests().size());
            // A late first tick of Timer1 enables the working buttons; it must not hand the list buttons back mid-run.
            t.w->window->enableWorkingButtons();
            controlsLocked << (t.list()->isLocked() && !t.button("Command1_0")->isEnabled()
                && !t.button("Command1_2")->isEnabled() && !t.button("Command1_3")->isEnabled()
                && t.button("Command2")->isEnabled() && t.button("Command1_1")->isEnabled()
                && t.button("Command1_4")->isEnabled() && t.button("Command2")->text() == QStringLiteral("停止查询")
                && !t.w->window->findChild<QAction *>(QStringLiteral("querySettings"))->isEnabled());
        };
        QVERIFY(t.run());

        QCOMPARE(t.messages,
            QStringList({ QStringLiteral("开始查询,当前共有3个域名需查询.."),
                QStringLiteral("共有3个域名，正在查询第1个.."), QStringLiteral("共有3个域名，正在查询第2个.."),
                QStringLiteral("共有3个域名，正在查询第3个.."), QStringLiteral("查询完毕..") }));
        QCOMPARE(requestsAtRowStart, QList<int>({ 0, 1, 2 }));
        QCOMPARE(controlsLocked, QList<bool>({ true, true, true }));
        QCOMPARE(t.targets(),
            QStringList({ QStringLiteral("/s-0/a.com.html"), QStringLiteral("/s-0/b.cn.html"),
                QStringLiteral("/s-0/a.com.html") }));
        for (const site::RecordedRequest &request : t.site.requests()) {
            QCOMPARE(request.method, QByteArray("GET"));
            QCOMPARE(site::headerValues(request, "If-Modified-Since"), QList<QByteArray> { "0" });
        }
        QCOMPARE(t.rowCells(0), found(QStringLiteral("a.com")));
        QCOMPARE(t.rowCells(1), found(QStringLiteral("b.cn")));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(!t.list()->isLocked());
        QVERIFY(t.button("Command1_0")->isEnabled() && t.button("Command1_2")->isEnabled()
            && t.button("Command1_3")->isEnabled());

        // A second run queries every row again, finished or not.
        t.site.clearRequests();
        QVERIFY(t.run());
        QCOMPARE(t.site.requests().size(), 3);
    }

    void batch_parallel_usesOneConnectionPerRowInFlight()
    {
        LookupWindow t(10000, [](LookupSettings &s) { s.parallel = 4; });
        t.site.setLatencyMs(50);
        QStringList domains;
        for (int i = 0; i < 10; ++i)
            domains << QStringLiteral("p%1.cn").arg(i);
        t.model().setDomains(domains);
        QVERIFY(t.run());
        for (int row = 0; row < 10; ++row)
            QCOMPARE(t.rowCells(row), found(domains.at(row)));
        QCOMPARE(t.site.connectionCount(), 4);
        // The progress names the row last started, in row order.
        QStringList progress = t.messages.filter(QStringLiteral("正在查询第"));
        QCOMPARE(progress.size(), 10);
        QCOMPARE(progress.last(), QStringLiteral("共有10个域名，正在查询第10个.."));
        QCOMPARE(t.messages.last(), QStringLiteral("查询完毕.."));
    }

    void batch_emptyList_refuses()
    {
        LookupWindow t;
        t.button("Command2")->click();
        QCOMPARE(t.messages, QStringList(QStringLiteral("请先添加或导入域名..")));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(t.site.requests().isEmpty());
    }

    void batch_stopDuringFetch_finishesThatRowOnly_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("two at a time") << 2;
    }
    void batch_stopDuringFetch_finishesThatRowOnly()
    {
        QFETCH(int, parallel);
        LookupWindow t(10000, [parallel](LookupSettings &s) { s.parallel = parallel; });
        t.site.setSlowDelayMs(100);
        t.model().setDomains({ QStringLiteral("slow.com"), QStringLiteral("slow.cn"), QStringLiteral("slow.net"),
            QStringLiteral("slow.org"), QStringLiteral("slow.hk") });
        QStringList captionsAfterClicks;
        t.atRowStart = [&](int row) {
            if (row != 1)
                return;
            t.button("Command2")->click();
            captionsAfterClicks << t.button("Command2")->text();
            // A second click while the run winds down starts nothing.
            t.button("Command2")->click();
            captionsAfterClicks << t.button("Command2")->text() << t.w->panel(2);
        };
        QVERIFY(t.run());

        QCOMPARE(captionsAfterClicks,
            QStringList(
                { QStringLiteral("开始查询"), QStringLiteral("开始查询"), QStringLiteral("请先添加或导入域名..") }));
        QVERIFY(!t.w->window->keepBatchRunning());
        QCOMPARE(t.site.requests().size(), 2);
        QCOMPARE(t.rowCells(0), found(QStringLiteral("slow.com")));
        QCOMPARE(t.rowCells(1), found(QStringLiteral("slow.cn")));
        for (int row = 2; row < 5; ++row) {
            QCOMPARE(t.rowCells(row), kUntouched);
            QCOMPARE(t.model().note(row), kNotReached);
        }
        QCOMPARE(t.messages.mid(t.messages.size() - 2),
            QStringList({ QStringLiteral("停止查询.."), QStringLiteral("查询完毕..") }));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(!t.list()->isLocked());
        QVERIFY(t.button("Command1_0")->isEnabled());
    }

    void batch_stopDuringLastRow_endsLikeAFullRun()
    {
        LookupWindow t;
        t.model().setDomains({ QStringLiteral("a.com"), QStringLiteral("b.com") });
        t.atRowStart = [&](int row) {
            if (row == 1)
                t.button("Command2")->click();
        };
        QVERIFY(t.run());
        QCOMPARE(t.rowCells(1), found(QStringLiteral("b.com")));
        QVERIFY(!t.messages.contains(QStringLiteral("停止查询..")));
        QCOMPARE(t.messages.last(), QStringLiteral("查询完毕.."));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
    }

    void batch_failuresMarkRowsFailedAndRunGoesOn()
    {
        LookupWindow t(400);
        t.site.setOversizedBytes(17 * 1024 * 1024);
        const QStringList domains { QStringLiteral("reset.com"), QStringLiteral("e500.com"),
            QStringLiteral("nomarker.com"), QStringLiteral("hang.com"), QStringLiteral("huge.com"),
            QStringLiteral("empty.com"), QStringLiteral("ok.com") };
        t.model().setDomains(domains);
        bool websiteOpenedMidRun = false;
        t.atRowStart = [&](int row) {
            if (row == 0) {
                // The website buttons work during a run and leave it going.
                t.button("Command1_4")->click();
                websiteOpenedMidRun = t.w->browser.opened.size() == 1;
            }
        };
        QVERIFY(t.run());
        QVERIFY(websiteOpenedMidRun);
        for (int row = 0; row < 6; ++row) {
            QVERIFY2(t.rowCells(row) == kFailed, qPrintable(domains.at(row)));
            QVERIFY2(!t.model().note(row).isEmpty(), qPrintable(domains.at(row)));
        }
        QCOMPARE(t.rowCells(6), found(QStringLiteral("ok.com")));
        QCOMPARE(t.messages.last(), QStringLiteral("查询完毕.."));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(t.w->dialogs.boxes.isEmpty());
    }

    void batch_siteGone_stopsByItselfAndSaysWhy()
    {
        LookupWindow t;
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            closedPort = probe.serverPort();
        }
        Config config;
        config.settings.effective.lookupBase = QStringLiteral("http://127.0.0.1:%1").arg(closedPort);
        config.settings.effective.retries = 0;
        ScriptedWindow w(&t.http, config);
        w.window->load();
        w.window->model().setDomains(QStringList(12, QStringLiteral("a.cn")));
        QStringList messages;
        connect(w.window.get(), &MainWindow::messageWritten, this, [&](const QString &text) { messages << text; });
        w.find<QPushButton>(QStringLiteral("Command2"))->click();
        QVERIFY(QTest::qWaitFor([&] { return !w.window->isQuerying(); }, 20000));
        QCOMPARE(messages.mid(messages.size() - 2),
            QStringList({ QStringLiteral("停止查询.."), QStringLiteral("查询完毕..") }));
        QCOMPARE(w.window->model().cell(9, DomainListModel::StatusColumn), QStringLiteral("查询失败"));
        QVERIFY(w.window->model().cell(10, DomainListModel::StatusColumn).isEmpty());
        QCOMPARE(w.window->model().note(10), kNotReached);
        QCOMPARE(w.dialogs.boxes.size(), 1);
        QCOMPARE(w.dialogs.boxes.first().text,
            QStringLiteral("查询网站似乎无法访问,已停止查询。\n最后的原因:无法连接(连接被拒绝)"));
        QCOMPARE(w.find<QPushButton>(QStringLiteral("Command2"))->text(), QStringLiteral("批量查询"));
    }

    // After a run no row claims to be looked up: each has finished, has been given up on (and says why), or was
    // never reached because of the stop (and says so, without lookup cells of its own).
    void batch_stop_leavesEveryRowWithATruthfulStatus()
    {
        LookupWindow t;
        t.site.setSlowDelayMs(100);
        t.model().setDomains({ QStringLiteral("e404.com"), QStringLiteral("empty.com"), QStringLiteral("slow.com"),
            QStringLiteral("a.cn"), QStringLiteral("b.cn") });
        // A result from before that the run does not reach again stays what it was.
        t.model().setLookupResult(
            t.model().keyAt(4), site::expectedRecord(QStringLiteral("b.cn")), QStringLiteral("查询完毕"));
        t.atRowStart = [&](int row) {
            if (row == 2)
                t.button("Command2")->click();
        };
        QVERIFY(t.run());
        struct Expected {
            QString status;
            QString note;
        };
        const Expected expected[] = { { QStringLiteral("查询失败"), QStringLiteral("HTTP 状态 404") },
            { QStringLiteral("查询失败"), QStringLiteral("空页面") }, { QStringLiteral("查询完毕"), QString() },
            { QString(), kNotReached }, { QStringLiteral("查询完毕"), QString() } };
        for (int row = 0; row < 5; ++row) {
            const QModelIndex status = t.model().index(row, DomainListModel::StatusColumn);
            QCOMPARE(status.data().toString(), expected[row].status);
            QCOMPARE(status.data(Qt::ToolTipRole).toString(), expected[row].note);
            // The export's 说明 column.
            QCOMPARE(exportTextCells(t.model(), row)[6].toString(), expected[row].note);
        }
        QVERIFY(!t.model().row(3).lookup);
        QCOMPARE(t.model().count(RowKind::Unfinished), 3);
        const QString summary = t.w->find<QLabel>(QStringLiteral("runSummary"))->text();
        QVERIFY2(summary.startsWith(QStringLiteral("已停止 · 有备案1 · 无记录0 · 已删除0 · 未完成2 · 未查询2 · ")),
            qPrintable(summary));

        // 查询未完成项 takes the failed rows and those never reached; a row looked up loses its mark.
        t.site.clearRequests();
        QVERIFY(t.run([&] { t.w->window->queryUnfinishedRows(); }));
        QCOMPARE(t.targets(),
            QStringList({ QStringLiteral("/s-0/e404.com.html"), QStringLiteral("/s-0/empty.com.html"),
                QStringLiteral("/s-0/a.cn.html") }));
        QCOMPARE(t.rowCells(3), found(QStringLiteral("a.cn")));
        QVERIFY(t.model().note(3).isEmpty());
        QCOMPARE(t.model().count(RowKind::Unfinished), 2);
    }

    // The history compares a result a moment after it arrives, so marks come in during the run and after its end;
    // the summary counts them among the run's rows only.
    void batch_summaryCountsChangedRowsOfTheRun_alsoMarkedAfterItsEnd()
    {
        // One at a time: a.com has its result when d.net starts.
        LookupWindow t(10000, [](LookupSettings &settings) { settings.parallel = 1; });
        t.model().setDomains(
            { QStringLiteral("a.com"), QStringLiteral("b.cn"), QStringLiteral("c.org"), QStringLiteral("d.net") });
        const std::vector<RowKey> keys { t.model().keyAt(0), t.model().keyAt(1), t.model().keyAt(2),
            t.model().keyAt(3) };
        t.model().setLookupResult(keys[2], site::expectedRecord(QStringLiteral("c.org")), QStringLiteral("查询完毕"));
        const auto before = std::make_shared<PreviousResult>();
        before->record.recordNo = QStringLiteral("无记录");
        t.atRowStart = [&](int row) {
            if (row == 3)
                QVERIFY(t.model().setChange(keys[0], QStringLiteral("新备案"), before));
        };
        t.w->window->selectRows({ keys[0], keys[1], keys[3] });
        QVERIFY(t.run([&] { t.w->window->querySelectedRow(); }));
        auto *summary = t.w->find<QLabel>(QStringLiteral("runSummary"));
        QVERIFY2(summary->text().startsWith(QStringLiteral("有备案3 · 无记录0 · 已删除0 · 未完成0 · 有变化1 · 用时")),
            qPrintable(summary->text()));
        // Outside the run: not counted.
        QVERIFY(t.model().setChange(keys[2], QStringLiteral("新备案"), before));
        QVERIFY(t.model().setChange(keys[3], QStringLiteral("新备案"), before));
        QTRY_VERIFY2(summary->text().contains(QStringLiteral(" · 有变化2 · ")), qPrintable(summary->text()));
        QVERIFY(t.model().setChange(keys[0], {}, nullptr));
        QTRY_VERIFY2(summary->text().contains(QStringLiteral(" · 有变化1 · ")), qPrintable(summary->text()));
        QCOMPARE(summary->accessibleName(), summary->text());
        QVERIFY(summary->isVisible());
    }

    void unfinished_queriesOnlyRowsNotFinished()
    {
        LookupWindow t;
        t.model().setDomains({ QStringLiteral("a.cn"), QStringLiteral("b.cn"), QStringLiteral("c.cn") });
        t.model().setLookupResult(t.model().keyAt(1),
            { QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x") },
            QStringLiteral("查询完毕"));
        t.model().setStatus(t.model().keyAt(2), QStringLiteral("查询中"), QStringLiteral("连接中断"));
        QVERIFY(t.run([&] { t.w->window->findChild<QAction *>(QStringLiteral("queryUnfinished"))->trigger(); }));
        QCOMPARE(t.targets(), QStringList({ QStringLiteral("/s-0/a.cn.html"), QStringLiteral("/s-0/c.cn.html") }));
        QCOMPARE(t.messages,
            QStringList(
                { QStringLiteral("开始查询,当前共有2个域名需查询.."), QStringLiteral("共有3个域名，正在查询第1个.."),
                    QStringLiteral("共有3个域名，正在查询第3个.."), QStringLiteral("查询完毕..") }));
        QCOMPARE(t.rowCells(2), found(QStringLiteral("c.cn")));
        QVERIFY(t.model().note(2).isEmpty());
        // Nothing left to do is said so, and starts nothing.
        t.site.clearRequests();
        t.w->window->queryUnfinishedRows();
        QCOMPARE(t.w->panel(2), QStringLiteral("所有域名均已查询完毕.."));
        QVERIFY(t.site.requests().isEmpty());
    }

    void placeholderSite_opensSettingsInsteadOfQuerying_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("batch") << QStringLiteral("Command2");
        QTest::newRow("selected row") << QStringLiteral("cxym");
        QTest::newRow("unfinished rows") << QStringLiteral("queryUnfinished");
    }
    void placeholderSite_opensSettingsInsteadOfQuerying()
    {
        QFETCH(QString, action);
        LookupWindow t(10000, [](LookupSettings &s) { s.lookupBase = QStringLiteral("http://lookup.example"); });
        t.model().setDomains({ QStringLiteral("a.cn") });
        t.select(0);
        t.w->dialogs.messageAnswers << MessageAnswer::Ok;
        if (action == QStringLiteral("Command2"))
            t.button("Command2")->click();
        else
            t.w->window->findChild<QAction *>(action)->trigger();
        QCOMPARE(t.w->dialogs.boxes.size(), 1);
        QCOMPARE(t.w->dialogs.boxes.first().text, QStringLiteral("尚未设置查询网站地址,请在查询设置中填写.."));
        QCOMPARE(t.w->dialogs.forms.size(), 1);
        QVERIFY(!t.w->window->isQuerying());
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(!t.list()->isLocked());
        QVERIFY(t.http.outstanding() == 0 && t.site.requests().isEmpty());
    }

    void listDuringRun_scrollsButTakesNoInput()
    {
        LookupWindow t;
        t.site.setSlowDelayMs(300);
        QStringList domains(200, QStringLiteral("a.cn"));
        domains[0] = QStringLiteral("slow.cn");
        t.model().setDomains(domains);
        t.w->window->show();
        t.select(5);
        bool checked = false;
        t.atRowStart = [&](int row) {
            if (row != 0)
                return;
            checked = true;
            DomainListView *list = t.list();
            QVERIFY(list->isEnabled() && list->isLocked());
            QScrollBar *bar = list->verticalScrollBar();
            bar->setValue(0);
            QWheelEvent wheel(QPointF(10, 10), list->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(list->viewport(), &wheel);
            QVERIFY(bar->value() > 0);
            QTest::keyClick(list, Qt::Key_Down);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(t.model().index(2, 0)).center());
            QCOMPARE(t.w->window->selectedKey(), t.model().keyAt(5));
            QTest::mousePress(list->viewport(), Qt::RightButton, {}, QPoint(10, 10));
            QVERIFY(!t.w->window->findChild<QMenu *>(QStringLiteral("caozuo"))->isVisible());
        };
        t.button("Command2")->click();
        QTRY_VERIFY(checked);
        t.button("Command2")->click(); // stop, so the test does not wait for 200 rows
        QVERIFY(QTest::qWaitFor([&] { return !t.w->window->isQuerying(); }, 10000));
    }

    void selected_queriesOnlyTheSelectedRowInSelectedMode()
    {
        LookupWindow t;
        t.model().setDomains(
            { QStringLiteral("a.com"), QStringLiteral("deleted.com"), QStringLiteral("unwrapped.com") });
        bool command2DisabledDuringFetch = false;
        t.atRowStart = [&](int) {
            t.w->window->enableWorkingButtons();
            command2DisabledDuringFetch
                = !t.button("Command2")->isEnabled() && t.list()->isLocked() && !t.button("Command1_0")->isEnabled();
        };
        t.select(1);
        QVERIFY(t.run([&] { t.w->window->findChild<QAction *>(QStringLiteral("cxym"))->trigger(); }));
        QVERIFY(command2DisabledDuringFetch);
        QCOMPARE(t.rowCells(1),
            QStringList({ QStringLiteral("备案已被删除"), QStringLiteral("未知"), QStringLiteral("未知"),
                QStringLiteral("未知"), QStringLiteral("查询完毕") }));
        t.select(2);
        QVERIFY(t.run([&] { t.w->window->querySelectedRow(); }));
        QCOMPARE(t.rowCells(2),
            QStringList({ QStringLiteral("无记录"), QStringLiteral("未知"), QStringLiteral("未知"),
                QStringLiteral("未知"), QStringLiteral("查询完毕") }));
        QCOMPARE(t.rowCells(0), kUntouched);
        QCOMPARE(t.site.requests().size(), 2);
        QVERIFY(t.messages.isEmpty());
        QVERIFY(t.button("Command2")->isEnabled() && !t.list()->isLocked() && t.button("Command1_3")->isEnabled());
    }

    void selected_refusesWithoutSelectionOrDomain()
    {
        LookupWindow t;
        t.w->window->querySelectedRow();
        QCOMPARE(t.w->panel(2), QStringLiteral("请选择要查询的域名.."));
        t.model().setDomains({ QStringLiteral("a.com"), QString() });
        t.select(1);
        t.w->window->querySelectedRow();
        QCOMPARE(t.w->panel(2), QStringLiteral("请选择要查询的域名.."));
        QVERIFY(t.site.requests().isEmpty());
        QCOMPARE(t.rowCells(1), kUntouched);
        QVERIFY(t.button("Command2")->isEnabled() && !t.list()->isLocked());
    }

    void selected_failedFetchStillEnablesControls()
    {
        LookupWindow t;
        t.model().setDomains({ QStringLiteral("reset.com") });
        t.select(0);
        QVERIFY(t.run([&] { t.w->window->querySelectedRow(); }));
        QCOMPARE(t.rowCells(0), kFailed);
        QCOMPARE(t.model().note(0), QStringLiteral("连接中断"));
        QVERIFY(t.messages.isEmpty());
        QVERIFY(t.button("Command2")->isEnabled() && !t.list()->isLocked() && t.button("Command1_0")->isEnabled()
            && t.button("Command1_2")->isEnabled() && t.button("Command1_3")->isEnabled());
    }

    // The close comes while the GET is on the wire (or the row waits to be retried): it is abandoned at once,
    // nothing more is written and the program ends with 0.
    void closeDuringBatchFetch_abortsAndWritesNothing_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("retries");
        QTest::newRow("fetch outstanding") << QStringLiteral("hang.com") << 0;
        QTest::newRow("waiting to retry") << QStringLiteral("e500.com") << 3;
    }
    void closeDuringBatchFetch_abortsAndWritesNothing()
    {
        QFETCH(QString, domain);
        QFETCH(int, retries);
        LookupWindow t(60000, [retries](LookupSettings &s) { s.retries = retries; });
        t.model().setDomains({ domain, QStringLiteral("a.com") });
        t.w->dialogs.messageAnswers << MessageAnswer::Yes;
        connect(&t.site, &site::LookupSite::requestReceived, this, [&] {
            // For the retry case, close once the error page is on its way back and the row waits.
            QTimer::singleShot(retries ? 100 : 0, &t.site, [&] { t.w->window->close(); });
        });
        t.button("Command2")->click();
        QTRY_COMPARE(t.w->quitStatuses, QList<int> { 0 });
        QCOMPARE(t.http.outstanding(), 0);
        QVERIFY(!t.w->window->isVisible() || t.w->window->isClosing());
        QTest::qWait(50);
        QCOMPARE(t.rowCells(0), kFetching);
        QCOMPARE(t.rowCells(1), kUntouched);
        QCOMPARE(t.site.requests().size(), 1);
        QCOMPARE(t.messages,
            QStringList({ QStringLiteral("开始查询,当前共有2个域名需查询.."),
                QStringLiteral("共有2个域名，正在查询第1个..") }));
    }
};

QTEST_MAIN(TestWindowLookup)
#include "tst_window_lookup.moc"
