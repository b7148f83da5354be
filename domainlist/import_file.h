#pragma once

#include "domainlist/domain_cleaner.h"
#include "domainlist/domain_list_model.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <vector>

class QIODevice;

namespace quernfold {

// A file that starts with the UTF-8 byte order mark, or that is valid UTF-8 throughout and holds at least one
// non-ASCII byte, is UTF-8 (the mark itself is dropped); anything else is the narrow code page. Bytes that do
// not decode become U+FFFD.
QString decodeImportBytes(QByteArrayView bytes);

// The domains a text file's lines give, as the import takes them: CR LF, a lone CR and a lone LF all end a line;
// empty lines and the total lines of our own export block are no rows; a line of our export block gives its first
// cell; every line is cleaned and "www." stripped (importedDomain), and what is then no domain is dropped.
// Repeated domains stay: dropping them is the list's business.
QStringList splitDomainLines(QStringView text);

// How a file's content is read: lines of domains (a text file, our own export block among them), or CSV records
// (our own CSV with every cell, or any other CSV's first column).
enum class ImportKind { Lines, Csv };
// ".csv" in any case is CSV; every other name is read as lines.
ImportKind importKindFor(const QString &path);

// Called now and then while a file is read so the window can repaint. `done` counts the bytes already turned
// into lines, `total` is the file's size (0 while the size is not known). Reading never touches the list, so
// whatever the callback lets run cannot disturb it; the caller puts the rows in once reading is over.
using ImportProgress = std::function<void(qint64 done, qint64 total)>;

// A larger file is refused before it is read: its lines alone would take gigabytes.
inline constexpr qint64 kImportSizeLimit = qint64(512) * 1024 * 1024;
// So is a file of more non-empty lines than this, counted before any line becomes text: a row costs about 56
// bytes however short its line, so 400 MB of two-byte lines would ask for tens of gigabytes.
inline constexpr qint64 kImportLineLimit = 10'000'000;

struct ImportResult {
    enum Status { Ok, OpenFailed, TooLarge, TooManyLines, ReadFailed };
    Status status = Ok;
    // On ReadFailed: the rows of the complete lines read before the failure. Rows carry cells only when the file
    // had them (our own CSV, our own export block).
    std::vector<DomainRow> rows;
    // Lines (CSV records) that were no domain once cleaned. Empty lines, a CSV's header and the total lines of an
    // export block are not rows, so they are not counted.
    qsizetype skipped = 0;
    // Our own message for the panel on OpenFailed, TooLarge, TooManyLines and ReadFailed; empty on Ok.
    QString error;
    // The system's words for why opening or reading failed ("No such file or directory"), when it gave any.
    QString reason;

    QStringList domains() const;
};

ImportResult readDomainFile(const QString &path, const ImportProgress &progress = {});

// The same over any open device, from its start; `name` is what the messages call it. Reads `readSize` bytes
// at a time, going back to the start once the encoding has been chosen (a sequential device is kept in memory).
// A device over `sizeLimit` bytes or `lineLimit` lines is refused; a sequential one (a pipe, standard input) as
// soon as the bytes that pass a bound have arrived, never after holding all of them.
ImportResult readDomainDevice(QIODevice &device, const QString &name, const ImportProgress &progress = {},
    qsizetype readSize = 64 * 1024, ImportKind kind = ImportKind::Lines, qint64 lineLimit = kImportLineLimit,
    qint64 sizeLimit = kImportSizeLimit);

// The panel's text when reading failed after `imported` rows had made it into the list.
QString importReadFailedMessage(const QString &name, qsizetype imported);

} // namespace quernfold
