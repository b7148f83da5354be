// Recent results taken from the history instead of asking the site again: which entries are recent enough.
#include "support/scripted_platform.h"

#include "store/results_store.h"

#include <QDateTime>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quernfold;
using namespace quernfold::test;
using namespace Qt::StringLiterals;

class TestReuse : public QObject
{
    Q_OBJECT
private slots:
    void batchRun_reusesOnlyResultsWithinTheDays_data()
    {
        QTest::addColumn<int>("reuseDays");
        QTest::addColumn<qint64>("ageSeconds");
        QTest::addColumn<bool>("reused");
        constexpr qint64 hour = 3600;
        constexpr qint64 day = 24 * hour;
        QTest::newRow("3 days, 2 days 23 hours old") << 3 << 2 * day + 23 * hour << true;
        QTest::newRow("3 days, 3 days 1 hour old") << 3 << 3 * day + hour << false;
        QTest::newRow("1 day, 23 hours old") << 1 << 23 * hour << true;
        QTest::newRow("1 day, 25 hours old") << 1 << 25 * hour << false;
        QTest::newRow("365 days, 364 days old") << 365 << 364 * day << true;
        QTest::newRow("365 days, 366 days old") << 365 << 366 * day << false;
        QTest::newRow("off, a minute old") << 0 << qint64(60) << false;
    }
    void batchRun_reusesOnlyResultsWithinTheDays()
    {
        QFETCH(int, reuseDays);
        QFETCH(qint64, ageSeconds);
        QFETCH(bool, reused);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"quernfold.db"_s);
        const qint64 lookedUpAt = QDateTime::currentSecsSinceEpoch() - ageSeconds;
        {
            ResultsStore store(path);
            QVERIFY(store.recordResult(u"old.cn"_s, { u"京ICP备7号"_s, u"旧主人"_s, u"企业"_s, u"旧网站"_s },
                u"查询完毕"_s, lookedUpAt));
        }
        Config config;
        config.storePath = path;
        config.settings.effective.lookupBase = u"http://lookup.test"_s;
        config.settings.effective.retries = 0;
        config.settings.effective.reuseDays = reuseDays;
        ScriptedHttp http;
        http.answerAlways(ScriptedHttp::failure(HttpFailure::Refused));
        ScriptedWindow w(&http, config);
        QSignalSpy ready(w.window.get(), &MainWindow::listReady);
        w.window->load();
        QVERIFY(ready.count() == 1 || ready.wait(5000));
        w.window->model().appendDomain(u"old.cn"_s);
        w.find<QPushButton>(u"Command2"_s)->click();
        QTRY_VERIFY(!w.window->isQuerying());

        QCOMPARE(http.requests.size(), reused ? 0 : 1);
        const DomainListModel &model = w.window->model();
        QCOMPARE(model.cell(0, DomainListModel::HolderColumn), reused ? u"旧主人"_s : QString());
        QCOMPARE(model.cell(0, DomainListModel::StatusColumn), reused ? u"查询完毕"_s : u"查询失败"_s);
        const QString when = QDateTime::fromSecsSinceEpoch(lookedUpAt).toString(u"yyyy-MM-dd HH:mm"_s);
        QCOMPARE(model.note(0), reused ? u"复用%1的查询结果"_s.arg(when) : u"无法连接(连接被拒绝)"_s);
    }
};

QTEST_MAIN(TestReuse)
#include "tst_reuse.moc"
