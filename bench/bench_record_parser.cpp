// Throughput of parseRecordPage on large result pages, and how its time grows with the page.
// Sizes count characters of page text; 1 MB = 2^20 characters (the pages are almost all ASCII, so this is
// also close to their size on the wire). The ratio compares pages of equal memory footprint; the cache-warm
// figure shows how much a small page gains from staying in the cache.
#include "lookup/record_parser.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kMiB = 1024 * 1024;

const QString kRecordRow
    = u"<tr>\n<td>1</td>\n<td>杭州星辰科技有限公司<a class=\"more\" href=\"/company/1.html\">详情</a>"
      u"</td>\n<td>企业</td>\n<td><a href=\"/icp/1.html\" target=\"_blank\">浙ICP备12345678号-1"
      u"</a></td>\n<td>星辰官网</td>\n<td><a href=\"http://www.example.cn\">www.example.cn</a>"
      u"</td>\n</tr>\n"_s;
const QString kFillerRow
    = u"<tr><td>2</td><td>某某网络科技有限公司<a href=\"/c/2.html\">详情</a></td><td>企业</td>"
      u"<td><a href=\"/icp/2.html\">京ICP备00000000号</a></td><td>某站</td><td>www.a.cn</td></tr>\n"_s;
const QString kMarker = u"<tbody id=\"table_tr\">"_s;

QString filler(qsizetype chars)
{
    QString text;
    text.reserve(chars + kFillerRow.size());
    while (text.size() < chars)
        text += kFillerRow;
    text.truncate(chars);
    return text;
}

// The record table first, then thousands of further rows: the search for a second marker runs to the end.
QString tableFirst(qsizetype chars)
{
    const QString head = u"<html><head><title>example.cn</title></head><body><table>"_s + kMarker + kRecordRow;
    return head + filler(chars - head.size());
}

// A long page before the table: the search for the first marker runs through all of it.
QString tableLast(qsizetype chars)
{
    const QString tail = kMarker + kRecordRow + u"</tbody></table></body></html>"_s;
    return filler(chars - tail.size()) + tail;
}

// Best of several rounds, in seconds per parse. The pages are parsed in turn, so several copies of a small page
// take as much memory as one large page and both sizes are read from the same level of the memory hierarchy.
double secondsPerParse(const QList<QString> &pages)
{
    const qsizetype chars = pages.first().size();
    const int rounds = std::max(10, int(200 * kMiB / std::max<qsizetype>(chars, 1)));
    double best = 1e9;
    for (int attempt = 0; attempt < 7; ++attempt) {
        QElapsedTimer timer;
        timer.start();
        int parsed = 0;
        for (int i = 0; i < rounds; ++i)
            parsed += parseRecordPage(pages.at(i % pages.size())).recordNo == u"浙ICP备12345678号-1" ? 1 : 0;
        const double seconds = double(timer.nsecsElapsed()) / 1e9 / rounds;
        if (parsed != rounds)
            std::fprintf(stderr, "unexpected parse result\n");
        best = std::min(best, seconds);
    }
    return best;
}

QList<QString> copies(const QString &page, int count)
{
    QList<QString> pages;
    for (int i = 0; i < count; ++i)
        pages.append(QString(page.constData(), page.size())); // a deep copy each
    return pages;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    struct Layout {
        const char *name;
        QString (*build)(qsizetype);
    };
    const Layout layouts[] = { { "table first", tableFirst }, { "table last", tableLast } };
    for (const Layout &layout : layouts) {
        const QString small = layout.build(2 * kMiB);
        const QString large = layout.build(20 * kMiB);
        const double warmSmall = secondsPerParse({ small });
        const double smallSeconds = secondsPerParse(copies(small, 10));
        const double largeSeconds = secondsPerParse({ large });
        std::printf("%-11s  2 MB: %7.3f ms %6.0f MB/s (one page, cache-warm: %7.3f ms %6.0f MB/s)\n", layout.name,
            smallSeconds * 1e3, 2.0 / smallSeconds, warmSmall * 1e3, 2.0 / warmSmall);
        std::printf("%-11s 20 MB: %7.3f ms %6.0f MB/s\n", "", largeSeconds * 1e3, 20.0 / largeSeconds);
        std::printf("%-11s time ratio 20 MB / 2 MB: %.2f (vs cache-warm 2 MB: %.2f)\n", "", largeSeconds / smallSeconds,
            largeSeconds / warmSmall);
    }
    return 0;
}
