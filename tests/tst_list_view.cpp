// The list at work with many rows: sorting, filtering, finding, several rows at once, the window that grows and
// remembers its size, and a run's progress and summary.
#include "support/scripted_platform.h"

#include "app/result_history.h"
#include "window/reading_order.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace quernfold;
using namespace quernfold::test;

namespace {

using Kind = ShownRowsModel::Kind;

const QString kDone = QStringLiteral("查询完毕");

FilingRecord record(const QString &recordNo, const QString &holder = QStringLiteral("未知"),
    const QString &siteName = QStringLiteral("未知"))
{
    return { recordNo, holder, QStringLiteral("企业"), siteName };
}

// Five rows, one of each kind and one never looked up: a.cn found (张三), b.cn no record, c.cn deleted (its filing
// was cancelled since an earlier lookup), d.cn found (李四) but being looked up again, e.cn untouched.
void fillKinds(DomainListModel &model)
{
    model.setDomains({ u"a.cn"_qs, u"b.cn"_qs, u"c.cn"_qs, u"d.cn"_qs, u"e.cn"_qs });
    model.setLookupResult(model.keyAt(0), record(u"京ICP备1号"_qs, u"张三"_qs, u"星辰官网"_qs), kDone);
    model.setLookupResult(model.keyAt(1), record(u"无记录"_qs), kDone);
    model.setLookupResult(model.keyAt(2), record(u"备案已被删除"_qs), kDone);
    auto before
        = std::make_shared<PreviousResult>(PreviousResult { record(u"京ICP备3号"_qs, u"王五"_qs), kDone, 0, 0 });
    model.setChange(model.keyAt(2), changeText(*before, model.row(2).lookup->record), before);
    model.setLookupResult(model.keyAt(3), record(u"沪ICP备2号"_qs, u"李四"_qs, u"Blog"_qs), kDone);
    model.setStatus(model.keyAt(3), u"查询中"_qs);
}

std::vector<RowKey> keysAt(const DomainListModel &model, std::initializer_list<int> positions)
{
    std::vector<RowKey> keys;
    for (const int position : positions)
        keys.push_back(model.keyAt(position));
    return keys;
}

QStringList shownDomains(const ShownRowsModel &shown)
{
    QStringList domains;
    for (int row = 0; row < shown.rowCount(); ++row)
        domains << shown.index(row, DomainListModel::DomainColumn).data().toString();
    return domains;
}

// The tester takes the first column's text for a row's identity across insertions and removals; ours is the row's
// place in the list, which a removal above it changes by design.
class DomainFirst : public QIdentityProxyModel
{
public:
    explicit DomainFirst(QAbstractItemModel *source) { setSourceModel(source); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        return QIdentityProxyModel::data(
            index.column() == DomainListModel::IdColumn ? index.siblingAtColumn(DomainListModel::DomainColumn) : index,
            role);
    }
};

QAction *columnItem(ScriptedWindow &w, const QString &name)
{
    return w.find<QAction>(u"column"_qs + name);
}

const QString kThirtyCharacters = u"nomatch.delta192.samplesite.cn"_qs;

Config configWithSite(const QString &settingsPath = {})
{
    Config config;
    config.settings.effective.lookupBase = u"http://127.0.0.1:9"_qs; // never reached: the HTTP client is scripted
    config.settings.effective.parallel = 1;
    config.settingsPath = settingsPath;
    return config;
}

} // namespace

class TestListView : public QObject
{
    Q_OBJECT
private slots:
    void filter_showsRowsOfItsKindWithCounts_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("menuText");
        QTest::newRow("全部") << Kind::All << QStringList { u"a.cn"_qs, u"b.cn"_qs, u"c.cn"_qs, u"d.cn"_qs, u"e.cn"_qs }
                              << u"全部(5)"_qs;
        QTest::newRow("有备案") << Kind::Found << QStringList { u"a.cn"_qs, u"d.cn"_qs } << u"有备案(2)"_qs;
        QTest::newRow("无记录") << Kind::NoRecord << QStringList { u"b.cn"_qs } << u"无记录(1)"_qs;
        QTest::newRow("备案已被删除") << Kind::Deleted << QStringList { u"c.cn"_qs } << u"备案已被删除(1)"_qs;
        QTest::newRow("未完成") << Kind::Unfinished << QStringList { u"d.cn"_qs, u"e.cn"_qs } << u"未完成(2)"_qs;
        QTest::newRow("有变化") << Kind::Changed << QStringList { u"c.cn"_qs } << u"有变化(1)"_qs;
    }
    void filter_showsRowsOfItsKindWithCounts()
    {
        QFETCH(Kind, kind);
        QFETCH(QStringList, shown);
        QFETCH(QString, menuText);
        ScriptedWindow w;
        fillKinds(w.window->model());
        w.window->showKind(kind);
        QCOMPARE(shownDomains(w.window->shownModel()), shown);
        auto *menu = w.find<QMenu>(QStringLiteral("caozuo"));
        emit menu->aboutToShow();
        const QList<QAction *> kinds = w.find<QMenu>(QStringLiteral("showKind"))->actions();
        QCOMPARE(kinds.at(int(kind))->text(), menuText);
        QVERIFY(kinds.at(int(kind))->isChecked());
        const QList<QString> names { u"showAll"_qs, u"showFound"_qs, u"showNoRecord"_qs, u"showDeleted"_qs,
            u"showUnfinished"_qs, u"showChanged"_qs };
        QCOMPARE(kinds.at(int(kind))->objectName(), names.at(int(kind)));
        // The find bar's box says the same.
        w.window->showFindBar();
        auto *box = w.find<QComboBox>(u"recordKind"_qs);
        QCOMPARE(box->currentIndex(), int(kind));
        QCOMPARE(box->currentText(), menuText);
    }

    void filterLine_saysWhatIsShown_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("line"); // empty: no line
        QTest::addColumn<QString>("matches");
        QTest::newRow("everything") << Kind::All << QString() << QString() << QString();
        QTest::newRow("a kind") << Kind::Found << QString() << u"显示: 有备案 · 2 / 5行"_qs << QString();
        QTest::newRow("the changed") << Kind::Changed << QString() << u"显示: 有变化 · 1 / 5行"_qs << QString();
        QTest::newRow("a find") << Kind::All << u"星辰"_qs << u"显示: 全部 · 1 / 5行 · 查找 \"星辰\""_qs
                                << u"1个匹配"_qs;
        QTest::newRow("both, nothing left")
            << Kind::Unfinished << u"星辰"_qs << u"显示: 未完成 · 0 / 5行 · 查找 \"星辰\""_qs << u"0个匹配"_qs;
    }
    void filterLine_saysWhatIsShown()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, find);
        QFETCH(QString, line);
        QFETCH(QString, matches);
        ScriptedWindow w;
        w.window->load();
        fillKinds(w.window->model());
        auto *list = w.find<DomainListView>(u"ListView1"_qs);
        const QRect fullList = list->geometry();
        w.window->showKind(kind);
        w.window->showFindBar();
        w.find<QLineEdit>(u"findText"_qs)->setText(find);
        auto *filterLine = w.find<QWidget>(u"filterLine"_qs);
        auto *text = w.find<QLabel>(u"filterText"_qs);
        QCOMPARE(filterLine->isVisible() ? text->text() : QString(), line);
        QCOMPARE(QAccessible::queryAccessibleInterface(text)->text(QAccessible::Name), line);
        QCOMPARE(w.find<QLabel>(u"findMatches"_qs)->text(), matches);
        // The line takes the list's top; the list keeps its bottom.
        QVERIFY(!filterLine->isVisible() || !filterLine->geometry().intersects(list->geometry()));
        QCOMPARE(list->geometry().bottom(), fullList.bottom());

        w.find<QToolButton>(u"showAllRows"_qs)->click();
        QVERIFY(!filterLine->isVisible());
        QCOMPARE(w.window->shownModel().rowCount(), 5);
        QCOMPARE(list->geometry(), fullList);
    }

    void filterLine_followsCountsAtDisplayRate()
    {
        ScriptedWindow w;
        w.window->load();
        DomainListModel &model = w.window->model();
        model.setDomains(QStringList(1200, u"r.cn"_qs));
        w.window->showKind(Kind::Found);
        auto *text = w.find<QLabel>(u"filterText"_qs);
        QCOMPARE(text->text(), u"显示: 有备案 · 0 / 1,200行"_qs);
        // Results arrive as a run writes them: the line catches up at the counts' rate, not row by row.
        for (int i = 0; i < 1100; ++i)
            model.setLookupResult(model.keyAt(i), record(u"京ICP备1号"_qs), kDone);
        QCOMPARE(text->text(), u"显示: 有备案 · 0 / 1,200行"_qs);
        QTRY_COMPARE(text->text(), u"显示: 有备案 · 1,100 / 1,200行"_qs);
    }

    void place_currentRowStaysInViewElseTop_data()
    {
        using Change = std::function<void(ScriptedWindow &)>;
        QTest::addColumn<int>("current"); // list position, -1 for none
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("keptInView"); // else the list shows its top
        const auto find = [](const QString &text) {
            return Change([text](ScriptedWindow &w) {
                w.window->showFindBar();
                w.find<QLineEdit>(u"findText"_qs)->setText(text);
            });
        };
        const Change sort = [](ScriptedWindow &w) { w.window->sortByColumn(DomainListModel::HolderColumn); };
        QTest::newRow("sort") << 1501 << sort << true;
        QTest::newRow("no current row, sort") << -1 << sort << false;
        QTest::newRow("filter keeps it") << 1501 << Change([](ScriptedWindow &w) { w.window->showKind(Kind::Found); })
                                         << true;
        QTest::newRow("filter hides it") << 1501
                                         << Change([](ScriptedWindow &w) { w.window->showKind(Kind::NoRecord); })
                                         << false;
        QTest::newRow("find keeps it") << 1501 << find(u"d15"_qs) << true;
        QTest::newRow("find hides it") << 1501 << find(u"d00"_qs) << false;
    }
    void place_currentRowStaysInViewElseTop()
    {
        QFETCH(int, current);
        QFETCH(std::function<void(ScriptedWindow &)>, change);
        QFETCH(bool, keptInView);
        ScriptedWindow w;
        w.window->load();
        // Every tenth row without a record, the others found, their holders in no particular order.
        DomainListModel &model = w.window->model();
        QStringList domains;
        for (int i = 0; i < 2000; ++i)
            domains << u"d%1.cn"_qs.arg(i, 4, 10, QChar(u'0'));
        model.setDomains(domains);
        for (int i = 0; i < 2000; ++i)
            model.setLookupResult(model.keyAt(i),
                i % 10 ? record(u"京ICP备1号"_qs, u"单位%1"_qs.arg(i * 7919 % 2000)) : record(u"无记录"_qs), kDone);
        auto *list = w.find<DomainListView>(u"ListView1"_qs);
        if (current >= 0)
            list->setCurrentIndex(w.window->shownModel().index(current, 1));
        // Far down the list, as after scrolling there.
        list->doItemsLayout();
        list->scrollTo(w.window->shownModel().index(1500, 1), QAbstractItemView::PositionAtCenter);
        QVERIFY(list->verticalScrollBar()->value() > 0);

        change(w);
        QVERIFY(w.window->shownModel().rowCount() > 0);
        if (keptInView) {
            const QModelIndex index = list->currentIndex();
            QCOMPARE(w.window->shownModel().keyAt(index.row()), model.keyAt(current));
            QVERIFY(list->visualRect(index).intersects(list->viewport()->rect()));
        } else {
            QCOMPARE(list->rowAt(0), 0);
        }
    }

    void sort_ordersAsAReaderWould_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("domains: case, then numbers by value")
            << int(DomainListModel::DomainColumn) << QStringList { u"b10.cn"_qs, u"B9.cn"_qs, u"a.cn"_qs, u"b9.cn"_qs }
            << QStringList { u"a.cn"_qs, u"B9.cn"_qs, u"b9.cn"_qs, u"b10.cn"_qs };
        QTest::newRow("holders in pinyin order")
            << int(DomainListModel::HolderColumn) << QStringList { u"张三"_qs, u"李四"_qs, u"王五"_qs, u"阿里"_qs }
            << QStringList { u"阿里"_qs, u"李四"_qs, u"王五"_qs, u"张三"_qs };
        QTest::newRow("full-width digits as digits")
            << int(DomainListModel::SiteNameColumn) << QStringList { u"站１２"_qs, u"站3"_qs }
            << QStringList { u"站3"_qs, u"站１２"_qs };
    }
    void sort_ordersAsAReaderWould()
    {
        QFETCH(int, column);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, ascending);
        DomainListModel model;
        ShownRowsModel shown(model);
        QAbstractItemModelTester tester(&shown, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDomains(column == DomainListModel::DomainColumn ? texts : QStringList(texts.size(), u"x.cn"_qs));
        if (column != DomainListModel::DomainColumn) {
            for (int row = 0; row < texts.size(); ++row) {
                FilingRecord r = record(u"1"_qs, texts.at(row), texts.at(row));
                model.setLookupResult(model.keyAt(row), r, kDone);
            }
        }
        const auto order = [&] {
            QStringList result;
            for (int row = 0; row < shown.rowCount(); ++row)
                result << shown.index(row, column).data().toString();
            return result;
        };
        shown.sortBy(column, Qt::AscendingOrder);
        QCOMPARE(order(), ascending);
        shown.sortBy(column, Qt::DescendingOrder);
        QStringList descending = ascending;
        std::reverse(descending.begin(), descending.end());
        // Equal keys (B9 and b9) keep list order both ways.
        if (column == DomainListModel::DomainColumn)
            descending = { u"b10.cn"_qs, u"B9.cn"_qs, u"b9.cn"_qs, u"a.cn"_qs };
        QCOMPARE(order(), descending);
        // The many-row path (distinct texts ranked once) orders the same way as the key-by-key one.
        std::vector<int> rows(300000);
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i] = int(i % size_t(texts.size()));
        std::vector<int> sorted = rows;
        sortByReadingKey(sorted, false, [&texts](int row) -> const QString & { return texts.at(row); });
        QCOMPARE(texts.at(sorted.front()), ascending.front());
        QCOMPARE(texts.at(sorted.back()), ascending.back());
        QVERIFY(std::is_sorted(sorted.begin(), sorted.end(),
            [&texts](int a, int b) { return readingKey(texts.at(a)) < readingKey(texts.at(b)); }));
    }

    void find_narrowsToRowsContainingText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("domain, any case") << u"A.C"_qs << QStringList { u"a.cn"_qs };
        QTest::newRow("record number") << u"沪ICP"_qs << QStringList { u"d.cn"_qs };
        QTest::newRow("holder") << u"张"_qs << QStringList { u"a.cn"_qs };
        QTest::newRow("site name, any case") << u"bLOG"_qs << QStringList { u"d.cn"_qs };
        QTest::newRow("narrowed further") << u"星辰官网"_qs << QStringList { u"a.cn"_qs };
        QTest::newRow("nothing") << u"zz"_qs << QStringList {};
    }
    void find_narrowsToRowsContainingText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        ScriptedWindow w;
        w.window->load();
        fillKinds(w.window->model());
        w.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QTest::keyClick(w.find<QWidget>(QStringLiteral("ListView1")), Qt::Key_F, Qt::ControlModifier);
        auto *field = w.find<QLineEdit>(QStringLiteral("findText"));
        QVERIFY(w.find<QWidget>(QStringLiteral("findBar"))->isVisible());
        QVERIFY(field->hasFocus());
        // Typed a key at a time, as the narrowing from the last text must give the same rows as a fresh search.
        for (int length = 1; length <= text.size(); ++length)
            field->setText(text.left(length));
        QCOMPARE(shownDomains(w.window->shownModel()), shown);
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!w.find<QWidget>(QStringLiteral("findBar"))->isVisible());
        QCOMPARE(w.window->shownModel().rowCount(), 5);
    }

    void runChanges_keepSortFilterAndCountsCurrent()
    {
        DomainListModel model;
        ShownRowsModel shown(model);
        QAbstractItemModelTester tester(&shown, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDomains({ u"a.cn"_qs, u"b.cn"_qs, u"c.cn"_qs, u"d.cn"_qs });
        shown.sortBy(DomainListModel::HolderColumn, Qt::AscendingOrder);
        shown.setKind(Kind::Found);
        QSignalSpy counts(&shown, &ShownRowsModel::countsChanged);
        QSignalSpy layouts(&shown, &QAbstractItemModel::layoutChanged);
        QSignalSpy inserts(&shown, &QAbstractItemModel::rowsInserted);
        model.setLookupResult(model.keyAt(2), record(u"1"_qs, u"张三"_qs), kDone);
        model.setLookupResult(model.keyAt(0), record(u"2"_qs, u"阿里"_qs), kDone);
        model.setLookupResult(model.keyAt(3), record(u"无记录"_qs), kDone);
        // Counted at once, moved together later: one change for the three rows, not one each.
        QCOMPARE(shown.count(Kind::Found), 2);
        QCOMPARE(shown.count(Kind::NoRecord), 1);
        QCOMPARE(shown.count(Kind::Unfinished), 1);
        QCOMPARE(shown.rowCount(), 0);
        QTRY_COMPARE(shownDomains(shown), QStringList({ u"a.cn"_qs, u"c.cn"_qs }));
        QVERIFY(counts.size() >= 1);
        QCOMPARE(layouts.size() + inserts.size(), 1);
        // A row added later finds its place too; one deleted leaves.
        model.appendDomain(u"e.cn"_qs);
        model.setLookupResult(model.keyAt(4), record(u"3"_qs, u"李四"_qs), kDone);
        QTRY_COMPARE(shownDomains(shown), QStringList({ u"a.cn"_qs, u"e.cn"_qs, u"c.cn"_qs }));
        model.removeRows({ model.keyAt(0) });
        QCOMPARE(shownDomains(shown), QStringList({ u"e.cn"_qs, u"c.cn"_qs }));
        QCOMPARE(shown.sourceRow(0), 3);
        QCOMPARE(shown.index(0, DomainListModel::IdColumn).data().toString(), u"4"_qs);
        shown.setKind(Kind::All);
        shown.sortBy(-1, Qt::AscendingOrder);
        QCOMPARE(shownDomains(shown), QStringList({ u"b.cn"_qs, u"c.cn"_qs, u"d.cn"_qs, u"e.cn"_qs }));
    }

    // A list whose keys lie far apart (most of a long list removed and added again, many times over) is marked by
    // position rather than by key: the same steps on it and on the same rows with keys in a row show the same rows.
    void steps_keysFarApart_showWhatKeysInARowShow_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 3; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }
    void steps_keysFarApart_showWhatKeysInARowShow()
    {
        QFETCH(quint32, seed);
        const auto rowsOf = [](int count, qint64 keyStep) {
            std::vector<DomainRow> rows;
            for (int i = 0; i < count; ++i) {
                DomainRow row;
                row.domain = u"site%1.cn"_qs.arg(i);
                row.key = RowKey((i + 1) * keyStep);
                rows.push_back(std::move(row));
            }
            return rows;
        };
        DomainListModel near;
        DomainListModel far;
        near.restoreRows(rowsOf(40, 1));
        far.restoreRows(rowsOf(40, qint64(1) << 22));
        ShownRowsModel nearShown(near);
        ShownRowsModel farShown(far);
        DomainFirst farTested(&farShown);
        QAbstractItemModelTester tester(&farTested, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QStringList texts = { QString(), u"s"_qs, u"si"_qs, u"site1"_qs, u"SITE2"_qs, u"星"_qs, u"ICP"_qs };
        const QStringList holders = { u"张三"_qs, u"星辰"_qs, u"Abc"_qs };
        QRandomGenerator random(seed);
        for (int step = 0; step < 400; ++step) {
            switch (random.bounded(6)) {
            case 0: {
                const int column = int(random.bounded(DomainListModel::BaseColumnCount));
                const auto order = random.bounded(2) ? Qt::AscendingOrder : Qt::DescendingOrder;
                nearShown.sortBy(column, order);
                farShown.sortBy(column, order);
                break;
            }
            case 1: {
                const auto kind = Kind(random.bounded(ShownRowsModel::KindCount));
                nearShown.setKind(kind);
                farShown.setKind(kind);
                break;
            }
            case 2: {
                const QString &text = texts[int(random.bounded(quint32(texts.size())))];
                nearShown.setFindText(text);
                farShown.setFindText(text);
                break;
            }
            case 3: {
                // Up to six rows, scattered ones taken out in one reset.
                std::vector<RowKey> nearGone;
                std::vector<RowKey> farGone;
                for (quint32 n = random.bounded(1, 7); n > 0 && near.count() > 0; --n) {
                    const int at = int(random.bounded(quint32(near.count())));
                    nearGone.push_back(near.keyAt(at));
                    farGone.push_back(far.keyAt(at));
                }
                near.removeRows(nearGone);
                far.removeRows(farGone);
                break;
            }
            case 4:
                for (quint32 n = random.bounded(1, 9); n > 0; --n) {
                    near.appendDomain(u"new%1-%2.cn"_qs.arg(step).arg(n));
                    far.appendDomain(u"new%1-%2.cn"_qs.arg(step).arg(n));
                }
                break;
            default:
                if (near.count() > 0) {
                    const FilingRecord result = random.bounded(3) == 0
                        ? record(u"无记录"_qs)
                        : record(u"京ICP备%1号"_qs.arg(step), holders[int(random.bounded(3))]);
                    const int at = int(random.bounded(quint32(near.count())));
                    near.setLookupResult(near.keyAt(at), result, kDone);
                    far.setLookupResult(far.keyAt(at), result, kDone);
                    nearShown.applyPendingChanges();
                    farShown.applyPendingChanges();
                }
            }
            const QStringList expected = shownDomains(nearShown);
            if (shownDomains(farShown) != expected)
                QFAIL(qPrintable(u"step %1: %2 instead of %3"_qs.arg(step).arg(
                    shownDomains(farShown).join(u' '), expected.join(u' '))));
        }
    }

    void removeRows_removesExactlyThoseInOnePass_data()
    {
        QTest::addColumn<std::vector<int>>("remove");
        QTest::addColumn<QString>("left");
        QTest::newRow("one run") << std::vector<int> { 2, 3, 4 } << u"0 1 5 6 7 8 9 10 11"_qs;
        QTest::newRow("unordered, repeated, out of range")
            << std::vector<int> { 9, 0, 9, 40, -1 } << u"1 2 3 4 5 6 7 8 10 11"_qs;
        QTest::newRow("scattered, more runs than announced one by one")
            << std::vector<int> { 0, 2, 4, 6, 8, 10, 1, 11, 5 } << u"3 7 9"_qs;
    }
    void removeRows_removesExactlyThoseInOnePass()
    {
        QFETCH(std::vector<int>, remove);
        QFETCH(QString, left);
        DomainListModel model;
        ShownRowsModel shown(model);
        QAbstractItemModelTester tester(&shown, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QStringList domains;
        for (int i = 0; i < 12; ++i)
            domains << QString::number(i);
        model.setDomains(domains);
        shown.sortBy(DomainListModel::DomainColumn, Qt::DescendingOrder);
        std::vector<RowKey> keys;
        for (const int position : remove)
            keys.push_back(position >= 0 && position < model.count() ? model.keyAt(position) : RowKey(1000 + position));
        model.removeRows(keys);
        QStringList rest;
        for (int row = 0; row < model.count(); ++row) {
            rest << model.cell(row, DomainListModel::DomainColumn);
            QCOMPARE(model.cell(row, DomainListModel::IdColumn), QString::number(row + 1));
        }
        QCOMPARE(rest.join(u' '), left);
        QCOMPARE(shown.rowCount(), model.count());
    }

    void delete_severalSelectedUnderSortAndFilter_asksAndRemovesThose_data()
    {
        QTest::addColumn<MessageAnswer>("answer");
        QTest::newRow("yes") << MessageAnswer::Yes;
        QTest::newRow("no") << MessageAnswer::No;
    }
    void delete_severalSelectedUnderSortAndFilter_asksAndRemovesThose()
    {
        QFETCH(MessageAnswer, answer);
        ScriptedWindow w;
        w.window->load();
        fillKinds(w.window->model());
        w.window->sortByColumn(DomainListModel::HolderColumn); // a.cn 张三 after d.cn 李四
        w.window->showKind(Kind::Found);
        QCOMPARE(shownDomains(w.window->shownModel()), QStringList({ u"d.cn"_qs, u"a.cn"_qs }));
        auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w.window->selectedKeys(), keysAt(w.window->model(), { 0, 3 }));
        w.dialogs.messageAnswers << answer;
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(w.dialogs.boxes.size(), 1);
        QCOMPARE(w.dialogs.boxes.first().text, u"确定删除选中的2个域名?"_qs);
        QCOMPARE(w.dialogs.boxes.first().title, u"提示"_qs);
        QCOMPARE(w.dialogs.boxes.first().style, MessageButtons::YesNo | MessageIcon::Information);
        QStringList left;
        for (int row = 0; row < w.window->model().count(); ++row)
            left << w.window->model().cell(row, DomainListModel::DomainColumn);
        QCOMPARE(left,
            answer == MessageAnswer::Yes ? QStringList({ u"b.cn"_qs, u"c.cn"_qs, u"e.cn"_qs })
                                         : QStringList({ u"a.cn"_qs, u"b.cn"_qs, u"c.cn"_qs, u"d.cn"_qs, u"e.cn"_qs }));
    }

    void query_severalSelected_runsBatchOverExactlyThose()
    {
        ScriptedHttp http;
        http.answer = [](const HttpRequest &) { return std::nullopt; }; // held: the test looks while they wait
        ScriptedWindow w(&http, configWithSite());
        w.window->load();
        QStringList messages;
        connect(w.window.get(), &MainWindow::messageWritten, [&messages](const QString &text) { messages << text; });
        fillKinds(w.window->model());
        w.window->sortByColumn(DomainListModel::DomainColumn);
        w.window->sortByColumn(DomainListModel::DomainColumn); // descending: e d c b a
        w.window->selectRows(keysAt(w.window->model(), { 4, 1 }));
        w.window->querySelectedRow();
        QTRY_COMPARE(http.requests.size(), 1);
        QCOMPARE(http.requests.first().url.path(), u"/s-0/b.cn.html"_qs);
        QCOMPARE(messages.first(), u"开始查询,当前共有2个域名需查询.."_qs);
        QCOMPARE(w.find<QPushButton>(QStringLiteral("Command2"))->text(), u"停止查询"_qs);
        // The stop is the batch run's: a click, and the row in flight finishes.
        w.find<QPushButton>(QStringLiteral("Command2"))->click();
        http.complete(http.pendingIds().first(), ScriptedHttp::failure(HttpFailure::Refused));
        QTRY_VERIFY(!w.window->isQuerying());
        QCOMPARE(http.requests.size(), 1);
        QCOMPARE(w.panel(2), u"查询完毕.."_qs);
        QVERIFY(w.find<QLabel>(QStringLiteral("runSummary"))->text().startsWith(u"已停止 · "_qs));
    }

    void copy_putsSelectedRowsAsTabSeparatedLines()
    {
        ScriptedWindow w;
        w.window->load();
        fillKinds(w.window->model());
        w.window->model().setStatus(w.window->model().keyAt(0), kDone, {});
        w.window->sortByColumn(DomainListModel::DomainColumn);
        w.window->sortByColumn(DomainListModel::DomainColumn);
        w.window->selectRows(keysAt(w.window->model(), { 0, 1 }));
        auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(w.clipboard.texts,
            QStringList(u"2\tb.cn\t无记录\t未知\t企业\t未知\t查询完毕\n"
                        "1\ta.cn\t京ICP备1号\t张三\t企业\t星辰官网\t查询完毕\n"_qs));
    }

    void window_growsFromFirstSizeWithControlsAtTheirCorners()
    {
        ScriptedWindow w;
        w.window->load();
        auto *client = w.find<QWidget>(QStringLiteral("client"));
        QCOMPARE(client->size(), QSize(851, 597));
        w.window->resize(w.window->width() + 200, w.window->height() + 100);
        QTRY_COMPARE(client->size(), QSize(1051, 697));
        QCOMPARE(w.find<QWidget>(QStringLiteral("ListView1"))->geometry(), QRect(8, 8, 1033, 573));
        QCOMPARE(w.find<QWidget>(QStringLiteral("Command1_0"))->pos(), QPoint(8, 596));
        QCOMPARE(w.find<QWidget>(QStringLiteral("Command2"))->pos(), QPoint(184, 596));
        QCOMPARE(w.find<QWidget>(QStringLiteral("Command1_4"))->pos(), QPoint(840, 596));
        QCOMPARE(w.find<QWidget>(QStringLiteral("Command1_1"))->pos(), QPoint(944, 596));
        QCOMPARE(w.find<QWidget>(QStringLiteral("S1"))->geometry(), QRect(0, 656, 1051, 41));
        QCOMPARE(w.find<QWidget>(QStringLiteral("S1_panel3"))->geometry(), QRect(955, 2, 96, 37));
        // Never below the first size.
        QCOMPARE(w.window->minimumSizeHint().height(), w.window->height() - 100);
    }

    void windowState_secondWindowReadsWhatFirstWrote()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"quernfold.ini"_qs);
        QSize written;
        {
            ScriptedWindow first(nullptr, configWithSite(path));
            first.window->load();
            first.window->resize(1000, 700);
            auto *list = first.find<DomainListView>(QStringLiteral("ListView1"));
            QTRY_COMPARE(list->header()->length(), list->viewport()->width());
            list->header()->resizeSection(1, 250);
            columnItem(first, u"Note"_qs)->trigger();
            columnItem(first, u"RecordNo"_qs)->trigger();
            written = first.window->size();
            first.dialogs.messageAnswers << MessageAnswer::Yes;
            first.window->close();
            QCOMPARE(first.quitStatuses, QList<int> { 0 });
        }
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(u"window/size"_qs).toSize(), written);
        ScriptedWindow second(nullptr, configWithSite(path));
        second.window->load();
        QCOMPARE(second.window->size(), written);
        auto *list = second.find<DomainListView>(QStringLiteral("ListView1"));
        QCOMPARE(list->header()->sectionSize(1), 250);
        for (int column = 0; column < DomainListModel::ColumnCount; ++column)
            QCOMPARE(list->isColumnShown(column),
                column != DomainListModel::RecordNoColumn && column != DomainListModel::LookedUpAtColumn);
        QVERIFY(!columnItem(second, u"RecordNo"_qs)->isChecked());
        // No settings file: nothing remembered, the first size as ever.
        ScriptedWindow forgetful;
        forgetful.window->load();
        QCOMPARE(forgetful.find<QWidget>(QStringLiteral("client"))->size(), QSize(851, 597));
        // Widths kept as a bare list of numbers came from the columns that cut domains off: not read again.
        const QString old = dir.filePath(u"old.ini"_qs);
        QSettings(old, QSettings::IniFormat).setValue(u"window/columnWidths"_qs, u"54,120,133,160,96,96,96"_qs);
        ScriptedWindow upgraded(nullptr, configWithSite(old));
        upgraded.window->load();
        auto *upgradedList = upgraded.find<DomainListView>(QStringLiteral("ListView1"));
        QVERIFY(upgradedList->header()->sectionSize(1) >= upgradedList->widthForText(kThirtyCharacters));
    }

    void columns_fillTheListAndFitA30CharacterDomain_data()
    {
        QTest::addColumn<int>("clientWidth");
        QTest::addColumn<bool>("optionalShown");
        QTest::newRow("first size") << 851 << false;
        QTest::newRow("first size, 说明 and 查询时间 shown") << 851 << true;
        QTest::newRow("maximised at 1280 px") << 1280 << false;
        QTest::newRow("maximised, 说明 and 查询时间 shown") << 1280 << true;
    }
    void columns_fillTheListAndFitA30CharacterDomain()
    {
        QFETCH(int, clientWidth);
        QFETCH(bool, optionalShown);
        ScriptedWindow w;
        w.window->load();
        QStringList domains;
        for (int row = 0; row < 2000; ++row)
            domains << u"site%1.com.cn"_qs.arg(row);
        domains[7] = kThirtyCharacters;
        domains[8] = u"sx00008.samplesite-long.com.cn"_qs;
        w.window->model().setDomains(domains);
        auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
        QHeaderView *header = list->header();
        if (optionalShown) {
            columnItem(w, u"Note"_qs)->trigger();
            columnItem(w, u"LookedUpAt"_qs)->trigger();
        }
        QTRY_VERIFY(list->verticalScrollBar()->isVisible());
        QTRY_COMPARE(header->length(), list->viewport()->width());
        QList<int> firstWidths;
        for (int column = 0; column < header->count(); ++column)
            firstWidths << header->sectionSize(column);

        w.window->resize(w.window->width() + clientWidth - 851, w.window->height());
        QTRY_COMPARE(w.find<QWidget>(QStringLiteral("client"))->width(), clientWidth);
        // Nothing blank at the right, nothing beyond it.
        QTRY_COMPARE(header->length(), list->viewport()->width());
        QVERIFY(!list->horizontalScrollBar()->isVisible());
        for (const int row : { 7, 8 }) {
            const QModelIndex cell = list->model()->index(row, DomainListModel::DomainColumn);
            QVERIFY(list->fontMetrics().horizontalAdvance(cell.data().toString()) < header->sectionSize(1));
            QCOMPARE(list->toolTipFor(cell), QString());
        }
        for (int column = 0; column < header->count(); ++column) {
            QCOMPARE(!header->isSectionHidden(column),
                optionalShown || column < DomainListModel::BaseColumnCount || column == DomainListModel::ChangeColumn);
            if (header->isSectionHidden(column))
                continue;
            QVERIFY2(
                header->sectionSizeHint(column) <= header->sectionSize(column), qPrintable(QString::number(column)));
            // The room the window gained went to the record columns.
            if (clientWidth > 851 && DomainListModel::columns()[size_t(column)].stretches)
                QVERIFY(header->sectionSize(column) > firstWidths.at(column));
            else if (clientWidth > 851)
                QCOMPARE(header->sectionSize(column), firstWidths.at(column));
        }
    }

    // What the 变化 cell and the status cell's tooltip say for each kind of change, as the history's comparison
    // words it; a domain seen for the first time, or two answers without a record, say nothing.
    void change_columnAndTooltipSayWhatChanged_data()
    {
        QTest::addColumn<QStringList>("before"); // empty: the history had nothing on the domain
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("previousLine");
        const QStringList found { u"京ICP备1号-1"_qs, u"张三"_qs, u"企业"_qs, u"星辰官网"_qs };
        const QStringList none { u"无记录"_qs, u"未知"_qs, u"未知"_qs, u"未知"_qs };
        const QStringList deleted { u"备案已被删除"_qs, u"未知"_qs, u"未知"_qs, u"未知"_qs };
        const QString wasFound = u"之前(2026-03-01): 京ICP备1号-1 / 张三"_qs;
        const auto with = [&found](int cell, const QString &text) {
            QStringList record = found;
            record[cell] = text;
            return record;
        };
        QTest::newRow("first sight") << QStringList() << found << QString() << QString() << QString();
        QTest::newRow("新备案") << none << found << QString() << u"新备案"_qs << u"之前(2026-03-01): 无记录"_qs;
        QTest::newRow("注销: 无记录") << found << none << QString() << u"备案已注销"_qs << wasFound;
        QTest::newRow("注销: 备案已被删除") << found << deleted << QString() << u"备案已注销"_qs << wasFound;
        QTest::newRow("备案号") << found << with(0, u"京ICP备1号-2"_qs) << QString() << u"备案号变更"_qs << wasFound;
        QTest::newRow("备案人, a reused result keeps its note")
            << found << with(1, u"李四"_qs) << u"复用2026-03-02 09:00的查询结果"_qs << u"备案人变更"_qs << wasFound;
        QTest::newRow("备案类型") << found << with(2, u"个人"_qs) << QString() << u"备案类型变更"_qs << wasFound;
        QTest::newRow("网站名称") << found << with(3, u"Blog"_qs) << QString() << u"网站名称变更"_qs << wasFound;
        QTest::newRow("all four") << found << QStringList { u"沪ICP备9号"_qs, u"李四"_qs, u"个人"_qs, u"Blog"_qs }
                                  << QString() << u"备案号变更、备案人变更、网站名称变更、备案类型变更"_qs << wasFound;
        QTest::newRow("无记录 to 备案已被删除") << none << deleted << QString() << QString() << QString();
        QTest::newRow("备案已被删除 to 无记录") << deleted << none << QString() << QString() << QString();
        QTest::newRow("the same record") << found << found << QString() << QString() << QString();
    }
    void change_columnAndTooltipSayWhatChanged()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, now);
        QFETCH(QString, note);
        QFETCH(QString, change);
        QFETCH(QString, previousLine);
        const auto recordOf = [](const QStringList &cells) {
            return FilingRecord { cells[0], cells[1], cells[2], cells[3] };
        };
        ScriptedWindow w;
        w.window->load();
        DomainListModel &model = w.window->model();
        model.setDomains({ u"a.cn"_qs, u"b.cn"_qs });
        const RowKey key = model.keyAt(1);
        model.setLookupResult(key, recordOf(now), kDone, note);
        std::shared_ptr<PreviousResult> previous;
        if (!before.isEmpty()) {
            previous = std::make_shared<PreviousResult>(
                PreviousResult { recordOf(before), kDone, QDateTime(QDate(2026, 1, 5), QTime(8, 0)).toSecsSinceEpoch(),
                    QDateTime(QDate(2026, 3, 1), QTime(23, 30)).toSecsSinceEpoch() });
        }
        QVERIFY(model.setChange(key, previous ? changeText(*previous, recordOf(now)) : QString(), previous));

        const ShownRowsModel &shown = w.window->shownModel();
        auto *list = w.find<DomainListView>(u"ListView1"_qs);
        QCOMPARE(shown.index(1, DomainListModel::ChangeColumn).data().toString(), change);
        QStringList lines;
        for (const QString &line : { note, change, previousLine }) {
            if (!line.isEmpty())
                lines << line;
        }
        QCOMPARE(list->toolTipFor(shown.index(1, DomainListModel::StatusColumn)), lines.join(u'\n'));
        QCOMPARE(shown.count(Kind::Changed), change.isEmpty() ? 0 : 1);
        w.window->showKind(Kind::Changed);
        QCOMPARE(shownDomains(shown), change.isEmpty() ? QStringList() : QStringList { u"b.cn"_qs });

        // The mark belongs to that result: a lookup under way clears it, and its failure is no change.
        model.setStatus(key, u"查询中"_qs);
        QVERIFY(!model.setChange(key, u"新备案"_qs, std::make_shared<PreviousResult>()));
        model.setStatus(key, u"查询失败"_qs, u"HTTP 状态 500"_qs);
        QVERIFY(!model.setChange(key, u"新备案"_qs, std::make_shared<PreviousResult>()));
        QCOMPARE(model.cell(1, DomainListModel::ChangeColumn), QString());
        QCOMPARE(model.count(RowKind::Changed), 0);
        QTRY_COMPARE(shown.rowCount(), 0);
    }

    // 查询时间: stamped when a lookup writes its result, the history's time for a reused one; sorted by time.
    void lookedUpAt_stampedShownAndSorted()
    {
        DomainListModel model;
        ShownRowsModel shown(model);
        QAbstractItemModelTester tester(&shown, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDomains({ u"a.cn"_qs, u"b.cn"_qs, u"c.cn"_qs, u"d.cn"_qs });
        const qint64 nine = QDateTime(QDate(2026, 3, 1), QTime(9, 5)).toSecsSinceEpoch();
        model.setLookupResult(model.keyAt(0), record(u"1"_qs), kDone, {}, nine + 3600);
        writeReusedResult(model, model.keyAt(1), HistoryEntry { record(u"2"_qs), kDone, nine });
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        model.setLookupResult(model.keyAt(2), record(u"3"_qs), kDone);
        QCOMPARE(model.cell(0, DomainListModel::LookedUpAtColumn), u"2026-03-01 10:05"_qs);
        QCOMPARE(model.cell(1, DomainListModel::LookedUpAtColumn), u"2026-03-01 09:05"_qs);
        QVERIFY(model.lookedUpAt(2) >= before && model.lookedUpAt(2) <= QDateTime::currentSecsSinceEpoch());
        QCOMPARE(model.cell(3, DomainListModel::LookedUpAtColumn), QString());
        QCOMPARE(model.cell(1, DomainListModel::NoteColumn), u"复用2026-03-01 09:05的查询结果"_qs);
        shown.sortBy(DomainListModel::LookedUpAtColumn, Qt::DescendingOrder);
        QCOMPARE(shownDomains(shown), QStringList({ u"c.cn"_qs, u"a.cn"_qs, u"b.cn"_qs, u"d.cn"_qs }));
        // A row looked up later moves to its place, once.
        model.setLookupResult(model.keyAt(3), record(u"4"_qs), kDone, {}, nine + 1800);
        shown.applyPendingChanges();
        QCOMPARE(shownDomains(shown), QStringList({ u"c.cn"_qs, u"a.cn"_qs, u"d.cn"_qs, u"b.cn"_qs }));
    }

    void idColumn_fitsSevenDigits()
    {
        ScriptedWindow w;
        w.window->load();
        w.window->model().setDomains(QStringList(1000000, u"x.cn"_qs));
        auto *list = w.find<DomainListView>(QStringLiteral("ListView1"));
        const QModelIndex last = list->model()->index(999999, DomainListModel::IdColumn);
        QCOMPARE(last.data().toString(), u"1000000"_qs);
        // The view offers the whole text as a tooltip exactly when the column cuts it.
        QCOMPARE(list->toolTipFor(last), QString());
    }

    void progress_showsDoneTotalAndAccessibleValueThenSummary()
    {
        ScriptedHttp http;
        http.answer = [](const HttpRequest &) { return std::nullopt; };
        Config config = configWithSite();
        config.settings.effective.parallel = 2;
        ScriptedWindow w(&http, config);
        w.window->load();
        fillKinds(w.window->model());
        auto *bar = w.find<QProgressBar>(QStringLiteral("runProgress"));
        QVERIFY(!bar->isVisible());
        w.find<QPushButton>(QStringLiteral("Command2"))->click();
        QTRY_COMPARE(http.pendingIds().size(), 2);
        QTRY_VERIFY(bar->format().startsWith(u"2/5 · "_qs));
        QVERIFY(bar->isVisible());
        QVERIFY(bar->format().contains(u"行/秒 · 剩余"_qs));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(bar);
        QVERIFY(accessible && accessible->valueInterface());
        QCOMPARE(accessible->valueInterface()->currentValue().toInt(), 2);
        QCOMPARE(accessible->valueInterface()->maximumValue().toInt(), 5);
        // The run's own texts stay in the message panel.
        QCOMPARE(w.panel(2), u"共有5个域名，正在查询第2个.."_qs);
        const QRect message = w.find<QWidget>(QStringLiteral("S1_panel2"))->geometry();
        QVERIFY(message.contains(bar->geometry()));
        const auto answerAll = [&http] {
            for (HttpClient::RequestId id : http.pendingIds())
                http.complete(
                    id, ScriptedHttp::reply(200, "text/html; charset=gbk", QByteArray("<html>no table</html>")));
        };
        while (w.window->isQuerying()) {
            answerAll();
            QTest::qWait(1);
        }
        auto *summary = w.find<QLabel>(QStringLiteral("runSummary"));
        QVERIFY(!bar->isVisible());
        QVERIFY(summary->isVisible());
        QVERIFY2(QRegularExpression(u"^有备案0 · 无记录0 · 已删除0 · 未完成5 · 有变化0 · 用时0:0\\d$"_qs)
                     .match(summary->text())
                     .hasMatch(),
            qPrintable(summary->text()));
        // Until the next action.
        w.window->deleteSelectedRow();
        QVERIFY(!summary->isVisible());
    }
};

QTEST_MAIN(TestListView)
#include "tst_list_view.moc"
