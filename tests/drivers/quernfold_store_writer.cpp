// Hands the results store a steady stream of changes until it is killed, for the crash test in tst_store.
//
//   quernfold_store_writer <database path> <rows appended at once first>
//
// Every millisecond it appends row "s<n>.cn", writes the cells of the row before it and records that row's result
// in the history; then it prints "<n> <monotonic ms>" (std::chrono::steady_clock), so whoever kills it knows what
// had been handed over and when. It prints "big <monotonic ms>" once the first rows are handed over.
#include "store/results_store.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

using namespace quernfold;

namespace {

long long monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

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
    store.dropList();
    const int big = QByteArray(argv[2]).toInt();
    QStringList domains;
    for (int i = 0; i < big; ++i)
        domains << QStringLiteral("b%1.cn").arg(i);
    store.appendRows(std::move(domains));
    std::printf("big %lld\n", monotonicMs());
    std::fflush(stdout);

    int next = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const QString domain = QStringLiteral("s%1.cn").arg(next);
        store.appendRows({ domain });
        if (next > 0) {
            const FilingRecord record { QStringLiteral("R%1").arg(next - 1), QStringLiteral("H"), QStringLiteral("T"),
                QStringLiteral("S") };
            store.writeCells(big + next - 1, LookupCells { record, QStringLiteral("查询完毕"), {} });
            store.recordResult(QStringLiteral("s%1.cn").arg(next - 1), record, QStringLiteral("查询完毕"), next - 1);
        }
        std::printf("%d %lld\n", next, monotonicMs());
        std::fflush(stdout);
        ++next;
    });
    tick.start();
    return app.exec();
}
