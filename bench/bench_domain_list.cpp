// Appends 1,000,000 rows one by one through the model while the window's list view shows it, then deletes
// one row near the top (which renumbers every row below). Prints both times and the peak RSS.
#include "app/main_window.h"
#include "bench_common.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>
#include <cstdio>

using namespace quernfold;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;

    Platform platform;
    MainWindow window(platform, Config {});
    window.show();
    QCoreApplication::processEvents();
    DomainListModel &model = window.model();

    // The texts are made first so that only the model and the view are timed.
    QStringList domains;
    domains.reserve(rows);
    for (int i = 0; i < rows; ++i)
        domains << QStringLiteral("domain%1.example.com").arg(i);

    std::printf("peak RSS before: %.1f MiB\n", bench::peakRssMiB());
    QElapsedTimer timer;
    timer.start();
    for (const QString &domain : std::as_const(domains))
        model.appendDomain(domain);
    QCoreApplication::processEvents(); // let the view lay out what it was told about
    const qint64 appendMs = timer.elapsed();

    timer.restart();
    model.removeRowAt(10);
    QCoreApplication::processEvents();
    const qint64 deleteUs = timer.nsecsElapsed() / 1000;

    std::printf("rows appended: %d\n", rows);
    std::printf("append: %lld ms (target <= 1500 ms)\n", static_cast<long long>(appendMs));
    std::printf("delete one row near the top: %.2f ms (target <= 50 ms)\n", deleteUs / 1000.0);
    std::printf("row 11 now reads ID %s, domain %s\n", qPrintable(model.cell(10, DomainListModel::IdColumn)),
        qPrintable(model.cell(10, DomainListModel::DomainColumn)));
    std::printf("peak RSS: %.1f MiB (target <= 400 MiB)\n", bench::peakRssMiB());
    return 0;
}
