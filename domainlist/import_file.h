#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

class QIODevice;

namespace quernfold {

// A "www." in this exact case goes where it begins a label: at the start of the line or after a character that
// is not a letter, digit or hyphen. Inside a name ("newww.cn", "awww.com") it is part of the name and stays.
QString stripWww(QString line);

// A file that starts with the UTF-8 byte order mark, or that is valid UTF-8 throughout and holds at least one
// non-ASCII byte, is UTF-8 (the mark itself is dropped); anything else is the narrow code page. Bytes that do
// not decode become U+FFFD.
QString decodeImportBytes(QByteArrayView bytes);

// CR LF, a lone CR and a lone LF all end a line. Lines of length 0 are skipped, lines of blanks are kept,
// and "www." is stripped from each line.
QStringList splitDomainLines(QStringView text);

// Called now and then while a file is read so the window can repaint. `done` counts the bytes already turned
// into lines, `total` is the file's size (0 while the size is not known). Reading never touches the list, so
// whatever the callback lets run cannot disturb it; the caller puts the rows in once reading is over.
using ImportProgress = std::function<void(qint64 done, qint64 total)>;

// A larger file is refused before it is read: its lines alone would take gigabytes.
inline constexpr qint64 kImportSizeLimit = qint64(512) * 1024 * 1024;

struct ImportResult {
    enum Status { Ok, OpenFailed, TooLarge, ReadFailed };
    Status status = Ok;
    // On ReadFailed: the complete lines read before the failure.
    QStringList domains;
    // Our own message for the panel on OpenFailed, TooLarge and ReadFailed; empty on Ok.
    QString error;
};

ImportResult readDomainFile(const QString &path, const ImportProgress &progress = {});

// The same over any open device, from its start; `name` is what the messages call it. Reads `readSize` bytes
// at a time, going back to the start once the encoding has been chosen (a sequential device is kept in memory).
ImportResult readDomainDevice(
    QIODevice &device, const QString &name, const ImportProgress &progress = {}, qsizetype readSize = 64 * 1024);

} // namespace quernfold
