// The list, its shown rows and its store under long random sequences of what a user and a lookup run do, compared
// after every step with a plain reference; and the case that once showed rows the filter hides.
//
// QUERNFOLD_SEQUENCE_SEEDS ("7" or "100-199") and QUERNFOLD_SEQUENCE_STEPS (steps per seed) run other and longer
// sequences; QUERNFOLD_SEQUENCE_REDUCE_S bounds the time spent reducing a failure.
#include "support/list_sequence.h"
#include "support/scripted_platform.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace quernfold;
using namespace quernfold::test;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::vector<quernfold::test::Step>)

namespace {

using Kind = ShownRowsModel::Kind;

struct SeedRange {
    quint64 first = 1;
    quint64 last = 4;
};

SeedRange seedsFromEnvironment()
{
    const QString text = qEnvironmentVariable("QUERNFOLD_SEQUENCE_SEEDS");
    if (text.isEmpty())
        return {};
    const QStringList bounds = text.split(u'-');
    const quint64 first = bounds.first().toULongLong();
    return { first, bounds.size() > 1 ? bounds.last().toULongLong() : first };
}

int intFromEnvironment(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Runs the steps; on a difference prints what failed and the shortest steps that still fail, ready to paste.
void expectNoDifference(const std::vector<Step> &steps, const QString &origin)
{
    const SequenceResult result = runSequence(steps, TesterMode::QtTest);
    if (!result.failed)
        return;
    std::fprintf(stderr, "%s failed at step %d of %zu: %s: %s\nreducing...\n", qPrintable(origin),
        result.failedStep, steps.size(), qPrintable(result.check), qPrintable(result.message));
    std::fflush(stderr);
    const qint64 budgetMs = qint64(intFromEnvironment("QUERNFOLD_SEQUENCE_REDUCE_S", 120)) * 1000;
    const std::vector<Step> reduced = reduceSteps(steps, result, budgetMs);
    const SequenceResult again = runSequence(reduced, TesterMode::Collect);
    std::fprintf(stderr, "%s reduced to %zu steps, failing with %s: %s\n%s", qPrintable(origin), reduced.size(),
        qPrintable(again.check), qPrintable(again.message), qPrintable(formatSteps(reduced)));
    std::fflush(stderr);
    QFAIL(qPrintable(u"%1: %2: %3"_s.arg(origin, result.check, result.message)));
}

QStringList shownDomains(const ShownRowsModel &shown)
{
    QStringList domains;
    for (int row = 0; row < shown.rowCount(); ++row)
        domains << shown.index(row, DomainListModel::DomainColumn).data().toString();
    return domains;
}

} // namespace

class TestListSequences : public QObject
{
    Q_OBJECT
private slots:
    void randomSequences_matchPlainReference_data()
    {
        QTest::addColumn<quint64>("seed");
        QTest::addColumn<int>("steps");
        const SeedRange seeds = seedsFromEnvironment();
        const int steps = intFromEnvironment("QUERNFOLD_SEQUENCE_STEPS", 5000);
        for (quint64 seed = seeds.first; seed <= seeds.last; ++seed)
            QTest::addRow("seed %llu", seed) << seed << steps;
    }
    void randomSequences_matchPlainReference()
    {
        QFETCH(quint64, seed);
        QFETCH(int, steps);
        expectNoDifference(randomSteps(seed, steps), u"seed %1"_s.arg(seed));
    }

    // Reduced sequences of faults the random runs found, kept once fixed.
    void foundSequences_matchPlainReference_data()
    {
        QTest::addColumn<std::vector<Step>>("steps");
        QTest::newRow("a result under a sort") << std::vector<Step> {
            { Op::Add, 926313348u, 167816576u, 238928u },
            { Op::Sort, 3312151516u, 1220922264u, 988306342u },
            { Op::Result, 4052920635u, 2261803195u, 4193199955u },
        };
        QTest::newRow("a delete under a sort after a restart") << std::vector<Step> {
            { Op::Import, 659341668u, 586463950u, 3520275221u },
            { Op::Run, 1219660810u, 328672920u, 3620464322u },
            { Op::Restart, 4056741496u, 1720596345u, 1073659758u },
            { Op::Result, 1665445313u, 339657618u, 868905254u },
            { Op::Delete, 4021406353u, 2941501562u, 1991278019u },
            { Op::Select, 1126041228u, 4021281233u, 745610338u },
            { Op::Kind, 4121625478u, 255371142u, 3072232191u },
            { Op::Sort, 1010528856u, 868525355u, 3086043551u },
            { Op::Delete, 3658214150u, 2750060787u, 1417472617u },
            { Op::Restart, 472201125u, 1961457110u, 3950800668u },
        };
    }
    void foundSequences_matchPlainReference()
    {
        QFETCH(std::vector<Step>, steps);
        expectNoDifference(steps, QString::fromLatin1(QTest::currentDataTag()));
    }

    // Nine looked-up rows, three of them without a record: 有备案, then 无记录, then a sort. The shown rows must be
    // exactly those three, whatever the column, and the selection, copy, export and delete act on them alone.
    void noRecordRows_afterSwitchAndSort_areAllThatIsShownAndActedOn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks");
        QTest::newRow("ID") << 0 << 1;
        const char *const names[] = { "域名", "备案号", "备案人", "备案类型", "网站名称", "查询状态" };
        for (int column = 1; column < DomainListModel::BaseColumnCount; ++column) {
            QTest::addRow("%s up", names[column - 1]) << column << 1;
            QTest::addRow("%s down", names[column - 1]) << column << 2;
        }
    }
    void noRecordRows_afterSwitchAndSort_areAllThatIsShownAndActedOn()
    {
        QFETCH(int, column);
        QFETCH(int, clicks);
        ScriptedWindow w;
        w.window->load();
        DomainListModel &model = w.window->model();
        QAbstractItemModelTester tester(&w.window->shownModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QStringList domains = { u"rec-0.com"_s, u"none-2.com"_s, u"rec-1.com"_s, u"rec-2.com"_s, u"none-0.com"_s,
            u"rec-3.com"_s, u"rec-4.com"_s, u"none-1.com"_s, u"rec-5.com"_s };
        model.setDomains(domains);
        for (int row = 0; row < model.count(); ++row) {
            const QString &domain = domains[row];
            const FilingRecord record = domain.startsWith(u"rec"_s)
                ? FilingRecord { u"京ICP备%1号"_s.arg(9 - row), domain + u"的主人"_s, u"企业"_s, domain + u"网站"_s }
                : FilingRecord { u"无记录"_s, u"未知"_s, u"未知"_s, u"未知"_s };
            model.setLookupResult(model.keyAt(row), record, u"查询完毕"_s);
        }
        auto *list = w.find<DomainListView>(u"ListView1"_s);
        w.window->showKind(Kind::Found);
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        w.window->showKind(Kind::NoRecord);
        for (int click = 0; click < clicks; ++click)
            w.window->sortByColumn(column);

        // Ties keep list order both ways; only the domains differ among the three.
        QStringList expected = { u"none-2.com"_s, u"none-0.com"_s, u"none-1.com"_s };
        if (column == DomainListModel::DomainColumn) {
            expected = { u"none-0.com"_s, u"none-1.com"_s, u"none-2.com"_s };
            if (clicks == 2)
                std::reverse(expected.begin(), expected.end());
        }
        QCOMPARE(shownDomains(w.window->shownModel()), expected);
        QCOMPARE(w.window->shownModel().count(Kind::NoRecord), 3);

        // The rows selected under 有备案 left with the filter: nothing is copied.
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(w.clipboard.texts, QStringList());
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QString copied;
        for (const QString &domain : std::as_const(expected))
            copied += u"%1\t%2\t无记录\t未知\t未知\t未知\t查询完毕\n"_s.arg(domains.indexOf(domain) + 1).arg(domain);
        QCOMPARE(w.clipboard.texts, QStringList { copied });

        QTemporaryDir dir;
        const QString path = dir.filePath(u"shown.csv"_s);
        w.dialogs.fileAnswers << path;
        w.window->exportList();
        QTRY_VERIFY(!w.window->isExporting());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList exported = QString::fromUtf8(file.readAll()).split(u"\r\n"_s, Qt::SkipEmptyParts).mid(1);
        for (QString &line : exported)
            line = line.section(u',', 1, 1);
        QCOMPARE(exported, expected);

        w.dialogs.messageAnswers << MessageAnswer::Yes;
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(w.dialogs.boxes.size(), 1);
        QCOMPARE(w.dialogs.boxes.first().text, u"确定删除选中的3个域名?"_s);
        QStringList left;
        for (int row = 0; row < model.count(); ++row)
            left << model.cell(row, DomainListModel::DomainColumn);
        QCOMPARE(left, domains.filter(u"rec-"_s));
        QCOMPARE(w.window->shownModel().rowCount(), 0);
    }
};

QTEST_MAIN(TestListSequences)
#include "tst_list_sequences.moc"
