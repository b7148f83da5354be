// The batch run and the selected-row query as the window drives them, against the local site.
#include "support/scripted_platform.h"
#include "tools/lookup_site/lookup_site.h"

#include "platform/network_http.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using namespace quernfold;
using namespace quernfold::test;

namespace {

struct LookupWindow {
    explicit LookupWindow(int timeoutMs = 10000)
        : http(timeoutMs)
    {
        if (!site.listen())
            qFatal("the local site did not start");
        Config config;
        config.lookupBase = site.baseUrl();
        w = std::make_unique<ScriptedWindow>(&http, config);
        w->window->load();
        QObject::connect(
            w->window.get(), &MainWindow::messageWritten, [this](const QString &text) { messages << text; });
        // Runs `atRowStart` whenever a row is marked "查询中", i.e. while its page is being fetched.
        QObject::connect(&model(), &QAbstractItemModel::dataChanged, [this](const QModelIndex &from) {
            if (from.column() == DomainListModel::StatusColumn
                && model().cell(from.row(), DomainListModel::StatusColumn) == QStringLiteral("查询中") && atRowStart)
                atRowStart(from.row());
        });
    }
    DomainListModel &model() { return w->window->model(); }
    QPushButton *button(const char *name) { return w->find<QPushButton>(QString::fromLatin1(name)); }
    QTreeView *list() { return w->find<QTreeView>(QStringLiteral("ListView1")); }
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
        for (int column = DomainListModel::RecordNoColumn; column < DomainListModel::ColumnCount; ++column)
            cells << model().cell(row, DomainListModel::Column(column));
        return cells;
    }
    void select(int row)
    {
        list()->selectionModel()->select(
            model().index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    site::LookupSite site;
    NetworkHttpClient http;
    std::unique_ptr<ScriptedWindow> w;
    QStringList messages;
    std::function<void(int)> atRowStart;
};

QStringList found(const QString &domain)
{
    const site::SiteRecord r = site::expectedRecord(domain);
    return { r.recordNo, r.holder, r.recordType, r.siteName, QStringLiteral("查询完毕") };
}

const QStringList kUntouched { QString(), QString(), QString(), QString(), QString() };
const QStringList kFetching { QString(), QString(), QString(), QString(), QStringLiteral("查询中") };

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
        QList<bool> controlsDisabled;
        t.atRowStart = [&](int) {
            requestsAtRowStart << int(t.site.requests().size());
            // A late first tick of Timer1 runs init; it must not hand the list buttons back mid-run.
            t.w->window->init();
            controlsDisabled << (!t.list()->isEnabled() && !t.button("Command1_0")->isEnabled()
                && !t.button("Command1_2")->isEnabled() && !t.button("Command1_3")->isEnabled()
                && t.button("Command2")->isEnabled() && t.button("Command1_1")->isEnabled()
                && t.button("Command1_4")->isEnabled() && t.button("Command2")->text() == QStringLiteral("停止查询"));
        };
        t.button("Command2")->click();

        QCOMPARE(t.messages,
            QStringList({ QStringLiteral("开始查询,当前共有3个域名需查询.."),
                QStringLiteral("共有3个域名，正在查询第1个.."), QStringLiteral("共有3个域名，正在查询第2个.."),
                QStringLiteral("共有3个域名，正在查询第3个.."), QStringLiteral("查询完毕..") }));
        QCOMPARE(requestsAtRowStart, QList<int>({ 0, 1, 2 }));
        QCOMPARE(controlsDisabled, QList<bool>({ true, true, true }));
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
        QVERIFY(t.list()->isEnabled());
        QVERIFY(t.button("Command1_0")->isEnabled() && t.button("Command1_2")->isEnabled()
            && t.button("Command1_3")->isEnabled());

        // A second run queries every row again, finished or not.
        t.site.clearRequests();
        t.button("Command2")->click();
        QCOMPARE(t.site.requests().size(), 3);
    }

    void batch_emptyList_refuses()
    {
        LookupWindow t;
        t.button("Command2")->click();
        QCOMPARE(t.messages, QStringList(QStringLiteral("请先添加或导入域名..")));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(t.site.requests().isEmpty());
    }

    void batch_stopDuringFetch_finishesThatRowOnly()
    {
        LookupWindow t;
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
        t.button("Command2")->click();

        QCOMPARE(captionsAfterClicks,
            QStringList(
                { QStringLiteral("开始查询"), QStringLiteral("开始查询"), QStringLiteral("请先添加或导入域名..") }));
        QVERIFY(!t.w->window->QueryRunning);
        QCOMPARE(t.site.requests().size(), 2);
        QCOMPARE(t.rowCells(1), found(QStringLiteral("slow.cn")));
        for (int row = 2; row < 5; ++row)
            QCOMPARE(t.rowCells(row), kUntouched);
        QCOMPARE(t.messages.mid(t.messages.size() - 2),
            QStringList({ QStringLiteral("停止查询.."), QStringLiteral("查询完毕..") }));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(t.list()->isEnabled());
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
        t.button("Command2")->click();
        QCOMPARE(t.rowCells(1), found(QStringLiteral("b.com")));
        QVERIFY(!t.messages.contains(QStringLiteral("停止查询..")));
        QCOMPARE(t.messages.last(), QStringLiteral("查询完毕.."));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
    }

    void batch_failuresLeaveRowsFetchingAndRunGoesOn()
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
        t.button("Command2")->click();
        QVERIFY(websiteOpenedMidRun);
        for (int row = 0; row < 6; ++row)
            QVERIFY2(t.rowCells(row) == kFetching, qPrintable(domains.at(row)));
        QCOMPARE(t.rowCells(6), found(QStringLiteral("ok.com")));
        QCOMPARE(t.messages.last(), QStringLiteral("查询完毕.."));
        QCOMPARE(t.button("Command2")->text(), QStringLiteral("批量查询"));
        QVERIFY(t.list()->isEnabled());
    }

    void selected_queriesOnlyTheSelectedRowInSelectedMode()
    {
        LookupWindow t;
        t.model().setDomains(
            { QStringLiteral("a.com"), QStringLiteral("deleted.com"), QStringLiteral("unwrapped.com") });
        bool command2DisabledDuringFetch = false;
        t.atRowStart = [&](int) {
            t.w->window->init();
            command2DisabledDuringFetch
                = !t.button("Command2")->isEnabled() && !t.list()->isEnabled() && !t.button("Command1_0")->isEnabled();
        };
        t.select(1);
        t.w->window->findChild<QAction *>(QStringLiteral("cxym"))->trigger();
        QVERIFY(command2DisabledDuringFetch);
        QCOMPARE(t.rowCells(1),
            QStringList({ QStringLiteral("备案已被删除"), QStringLiteral("未知"), QStringLiteral("未知"),
                QStringLiteral("未知"), QStringLiteral("查询完毕") }));
        t.select(2);
        t.w->window->cxym_Click();
        QCOMPARE(t.rowCells(2),
            QStringList({ QStringLiteral("无记录"), QStringLiteral("未知"), QStringLiteral("未知"),
                QStringLiteral("未知"), QStringLiteral("查询完毕") }));
        QCOMPARE(t.rowCells(0), kUntouched);
        QCOMPARE(t.site.requests().size(), 2);
        QVERIFY(t.messages.isEmpty());
        QVERIFY(t.button("Command2")->isEnabled() && t.list()->isEnabled() && t.button("Command1_3")->isEnabled());
    }

    void selected_refusesWithoutSelectionOrDomain()
    {
        LookupWindow t;
        t.w->window->cxym_Click();
        QCOMPARE(t.w->panel(2), QStringLiteral("请选择要查询的域名.."));
        t.model().setDomains({ QStringLiteral("a.com"), QString() });
        t.select(1);
        t.w->window->cxym_Click();
        QCOMPARE(t.w->panel(2), QStringLiteral("请选择要查询的域名.."));
        QVERIFY(t.site.requests().isEmpty());
        QCOMPARE(t.rowCells(1), kUntouched);
        QVERIFY(t.button("Command2")->isEnabled() && t.list()->isEnabled());
    }

    void selected_failedFetchStillEnablesControls()
    {
        LookupWindow t;
        t.model().setDomains({ QStringLiteral("reset.com") });
        t.select(0);
        t.w->window->cxym_Click();
        QCOMPARE(t.rowCells(0), kFetching);
        QVERIFY(t.messages.isEmpty());
        QVERIFY(t.button("Command2")->isEnabled() && t.list()->isEnabled() && t.button("Command1_0")->isEnabled()
            && t.button("Command1_2")->isEnabled() && t.button("Command1_3")->isEnabled());
    }

    void closeDuringBatchFetch_abortsAndWritesNothing()
    {
        LookupWindow t;
        t.model().setDomains({ QStringLiteral("hang.com"), QStringLiteral("a.com") });
        t.w->dialogs.messageAnswers << MsgAnswer::Yes;
        t.atRowStart = [&](int) { t.w->window->close(); };
        t.button("Command2")->click();
        QCOMPARE(t.w->quitStatuses, QList<int> { 0 });
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
