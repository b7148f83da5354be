#include "window/reading_order.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <functional>
#include <numeric>

namespace quernfold {

namespace {

struct RankTable {
    // Rank (from 1) of each UTF-16 unit the table covers; 0 for one it does not.
    std::vector<quint16> rank;
    quint16 digitRank = 0;
};

// The collator decides once where each character of the scripts a domain list holds belongs; after that a key is
// a table look-up per character, which is what makes sorting a million rows affordable.
RankTable buildRankTable()
{
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<char16_t> chars;
    const auto add = [&chars](char16_t from, char16_t to) {
        for (char32_t c = from; c <= to; ++c)
            chars.push_back(char16_t(c));
    };
    add(u' ', u'/');
    add(u'0', u'0'); // stands for every run of digits
    add(u':', u'@');
    add(u'[', u'~');
    add(0x00A0, 0x024F);
    add(0x2010, 0x205E);
    add(0x3000, 0x303F);
    add(0x3400, 0x4DBF);
    add(0x4E00, 0x9FFF);
    add(0xF900, 0xFAFF);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(chars.size());
    for (char16_t c : chars)
        keys.push_back(collator.sortKey(QString(QChar(c))));
    std::vector<int> order(chars.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(
        order.begin(), order.end(), [&keys](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    RankTable table;
    table.rank.assign(0x10000, 0);
    quint16 rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i == 0 || keys[size_t(order[i - 1])].compare(keys[size_t(order[i])]) != 0)
            ++rank;
        table.rank[chars[size_t(order[i])]] = rank;
    }
    table.digitRank = table.rank[u'0'];
    return table;
}

const RankTable &rankTable()
{
    static const RankTable table = buildRankTable();
    return table;
}

char32_t folded(char16_t c)
{
    if (c >= 0xFF01 && c <= 0xFF5E)
        c = char16_t(c - 0xFEE0);
    if (c >= u'A' && c <= u'Z')
        c = char16_t(c + 32);
    return c;
}

bool isDigit(char32_t c)
{
    return c >= u'0' && c <= u'9';
}

void pushRank(std::string &key, quint16 rank)
{
    key.push_back(char(1 + rank / 255));
    key.push_back(char(1 + rank % 255));
}

// Characters the table does not cover go after all that it does, by code point.
void pushUncovered(std::string &key, char32_t c)
{
    key.push_back(char(0xFE));
    key.push_back(char(1 + (c / (255 * 255)) % 255));
    key.push_back(char(1 + (c / 255) % 255));
    key.push_back(char(1 + c % 255));
}

} // namespace

namespace {
// Appends the key until it holds at least `enough` bytes (or the whole key).
void appendKeyPart(QStringView text, std::string &key, size_t enough)
{
    const RankTable &table = rankTable();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size && key.size() < enough;) {
        const char16_t unit = text[i].unicode();
        const char32_t c = folded(unit);
        if (isDigit(c)) {
            qsizetype end = i;
            while (end < size && isDigit(folded(text[end].unicode())))
                ++end;
            qsizetype first = i;
            while (first < end - 1 && folded(text[first].unicode()) == u'0')
                ++first;
            pushRank(key, table.digitRank);
            key.push_back(char(1 + std::min<qsizetype>(end - first, 254)));
            for (qsizetype d = first; d < end; ++d)
                key.push_back(char(1 + (folded(text[d].unicode()) - u'0')));
            i = end;
            continue;
        }
        if (QChar::isHighSurrogate(unit) && i + 1 < size && text[i + 1].isLowSurrogate()) {
            pushUncovered(key, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            i += 2;
            continue;
        }
        ++i;
        const quint16 rank = table.rank[c];
        if (rank)
            pushRank(key, rank);
        else
            pushUncovered(key, c);
    }
}
} // namespace

void appendReadingKey(QStringView text, std::string &key)
{
    appendKeyPart(text, key, std::string::npos);
}

std::string readingKey(QStringView text)
{
    std::string key;
    appendReadingKey(text, key);
    return key;
}

namespace detail {

quint64 keyChunk(QStringView text, int part, std::string &scratch)
{
    scratch.clear();
    const size_t from = size_t(part) * 8;
    appendKeyPart(text, scratch, from + 8);
    quint64 chunk = 0;
    for (size_t i = 0; i < 8; ++i) {
        chunk <<= 8;
        if (from + i < scratch.size())
            chunk |= quint8(scratch[from + i]);
    }
    return chunk;
}

void sortChunked(std::vector<ChunkedRow> &rows, bool descending, const TextOfRow &textOf)
{
    const auto less = [descending](const ChunkedRow &a, const ChunkedRow &b) {
        if (a.chunk != b.chunk)
            return descending ? a.chunk > b.chunk : a.chunk < b.chunk;
        return a.row < b.row;
    };
    struct Range {
        size_t from;
        size_t to;
        int part;
    };
    std::vector<Range> pending { { 0, rows.size(), 0 } };
    std::string scratch;
    while (!pending.empty()) {
        const Range range = pending.back();
        pending.pop_back();
        std::sort(rows.begin() + range.from, rows.begin() + range.to, less);
        // Rows whose eight bytes tie are told apart by the next eight, unless their keys ended there (a zero
        // byte): then they are equal and already in row order.
        for (size_t i = range.from; i < range.to;) {
            size_t end = i + 1;
            while (end < range.to && rows[end].chunk == rows[i].chunk)
                ++end;
            if (end - i > 1 && (rows[i].chunk & 0xFF) != 0) {
                // Lists repeat their holders, types and statuses: a run of one and the same text is done.
                const QString &first = textOf(rows[i].row);
                bool same = true;
                for (size_t j = i + 1; j < end && same; ++j)
                    same = textOf(rows[j].row) == first;
                if (!same) {
                    for (size_t j = i; j < end; ++j)
                        rows[j].chunk = keyChunk(textOf(rows[j].row), range.part + 1, scratch);
                    pending.push_back({ i, end, range.part + 1 });
                }
            }
            i = end;
        }
    }
}

bool sortRepeated(std::vector<ChunkedRow> &rows, bool descending, const TextOfRow &textOf)
{
    constexpr qsizetype kMostDistinct = 65536;
    if (rows.size() < 4 * size_t(kMostDistinct))
        return false;
    QHash<QString, quint32> ids;
    std::vector<QString> distinct;
    for (ChunkedRow &entry : rows) {
        const QString &text = textOf(entry.row);
        auto found = ids.constFind(text);
        if (found == ids.constEnd()) {
            if (ids.size() == kMostDistinct)
                return false;
            found = ids.insert(text, quint32(distinct.size()));
            distinct.push_back(text);
        }
        entry.chunk = found.value();
    }
    std::vector<std::string> keys(distinct.size());
    for (size_t i = 0; i < distinct.size(); ++i)
        keys[i] = readingKey(distinct[i]);
    std::vector<quint32> order(distinct.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&keys, descending](quint32 a, quint32 b) {
        const int c = keys[a].compare(keys[b]);
        return descending ? c > 0 : c < 0;
    });
    // Texts with equal keys ("A.com", "a.com") share a rank, so their rows keep list order.
    std::vector<quint32> rank(distinct.size());
    quint32 next = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys[order[i - 1]] != keys[order[i]])
            ++next;
        rank[order[i]] = next;
    }
    for (ChunkedRow &entry : rows)
        entry.chunk = rank[size_t(entry.chunk)];
    std::sort(rows.begin(), rows.end(), [](const ChunkedRow &a, const ChunkedRow &b) {
        return a.chunk != b.chunk ? a.chunk < b.chunk : a.row < b.row;
    });
    return true;
}

} // namespace detail

} // namespace quernfold
