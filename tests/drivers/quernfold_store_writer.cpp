// Hands the results store a steady stream of changes until it is killed, for the crash and lock tests in tst_store.
//
//   quernfold_store_writer <database path> <rows added at once first>
//
// It starts the stored list afresh and adds rows "b0.cn".. (keys 1..) at once, then prints "big". Then every
// millisecond it adds row "s<n>.cn" (the next key), writes the cells of the row before it and records that row's
// result in the history, and prints "handed <rows in all>". Whenever the store says everything handed over is in
// the file it prints "saved <rows in all>", so whoever kills it knows what the file must hold.
//
//   quernfold_store_writer <database path> open
//
// only opens the store (upgrading an older file) and prints "open" once it answers, changing nothing.
#include "store/results_store.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

using namespace quernfold;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    ResultsStore store(QString::fromLocal8Bit(argv[1]));
    QObject::connect(&store, &ResultsStore::problemOccurred, [](ResultsStore::Problem, const QString &reason) {
        std::fprintf(stderr, "problem: %s\n", qPrintable(reason));
        QCoreApplication::exit(1);
    });
    if (QByteArray(argv[2]) == "open") {
        store.listCounts([](ListCounts) {
            std::printf("open\n");
            std::fflush(stdout);
        });
        return app.exec();
    }
    store.dropList();
    const int big = QByteArray(argv[2]).toInt();
    std::vector<DomainRow> rows;
    for (int i = 0; i < big; ++i)
        rows.push_back(DomainRow { QStringLiteral("b%1.cn").arg(i), nullptr, RowKey(i + 1) });
    store.addRows(std::move(rows));
    std::printf("big\n");
    std::fflush(stdout);

    int next = 0;
    QObject::connect(&store, &ResultsStore::saved, [&] {
        std::printf("saved %d\n", big + next);
        std::fflush(stdout);
    });
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        std::vector<DomainRow> row;
        row.push_back(DomainRow { QStringLiteral("s%1.cn").arg(next), nullptr, RowKey(big + next + 1) });
        store.addRows(std::move(row));
        if (next > 0) {
            const FilingRecord record { QStringLiteral("R%1").arg(next - 1), QStringLiteral("H"), QStringLiteral("T"),
                QStringLiteral("S") };
            store.writeCells(RowKey(big + next), LookupCells { record, QStringLiteral("查询完毕"), {} });
            store.recordResult(QStringLiteral("s%1.cn").arg(next - 1), record, QStringLiteral("查询完毕"), next - 1);
        }
        ++next;
        std::printf("handed %d\n", big + next);
        std::fflush(stdout);
    });
    tick.start();
    return app.exec();
}
