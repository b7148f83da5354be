#pragma once

#include <QString>
#include <QStringView>

#include <functional>

#include <string>
#include <vector>

namespace quernfold {

// Byte keys that compare (as unsigned bytes) the way a reader orders the list's texts: letters whatever their case,
// a run of digits by its value ("a9" before "a10"), full-width forms as their ASCII twins, and every other
// character where the system's collator for zh_CN puts it (Chinese characters by pinyin). No byte of a key is 0.
void appendReadingKey(QStringView text, std::string &key);
std::string readingKey(QStringView text);

// Sorts `rows` by their texts' reading keys (`textOf(row)`, a const QString &), rows with equal keys in ascending row
// order, so the result depends only on the texts. Descending reverses the keys' order, not the tie order. Keys are made
// eight bytes at a time and only where rows still tie, so a million rows never hold a million whole keys at once.
template <typename TextOf> void sortByReadingKey(std::vector<int> &rows, bool descending, TextOf textOf);

namespace detail {
using TextOfRow = std::function<const QString &(int)>;
#pragma pack(push, 4)
struct ChunkedRow {
    quint64 chunk;
    int row;
};
#pragma pack(pop)
// The key's eight bytes from byte 8 * `part` on, big-endian, zero past its end.
quint64 keyChunk(QStringView text, int part, std::string &scratch);
void sortChunked(std::vector<ChunkedRow> &rows, bool descending, const TextOfRow &textOf);
// Sorts by the rank of each distinct text when there are few of them (holders, types, statuses repeat); false,
// with `rows` unsorted, when there are too many for that to pay.
bool sortRepeated(std::vector<ChunkedRow> &rows, bool descending, const TextOfRow &textOf);
} // namespace detail

template <typename TextOf> void sortByReadingKey(std::vector<int> &rows, bool descending, TextOf textOf)
{
    std::vector<detail::ChunkedRow> chunked(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        chunked[i].row = rows[i];
    const detail::TextOfRow text = [&textOf](int row) -> const QString & { return textOf(row); };
    if (!detail::sortRepeated(chunked, descending, text)) {
        std::string scratch;
        for (detail::ChunkedRow &entry : chunked)
            entry.chunk = detail::keyChunk(textOf(entry.row), 0, scratch);
        detail::sortChunked(chunked, descending, text);
    }
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = chunked[i].row;
}

} // namespace quernfold
