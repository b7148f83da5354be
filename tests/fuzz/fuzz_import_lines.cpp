// The import's encoding detection and line splitting on any file. Input: one byte that picks the read size,
// then the file's bytes.
#include "domainlist/import_file.h"
#include "fuzz_check.h"

#include <QBuffer>
#include <QByteArray>
#include <QStringList>

using namespace quernfold;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype readSize = 1 + data[0] % 64;
    QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);

    const QString text = decodeImportBytes(bytes);
    // One byte never decodes to more than one UTF-16 unit in either encoding.
    FUZZ_CHECK(text.size() <= bytes.size());

    const QStringList lines = splitDomainLines(text);
    QStringList nonEmpty;
    for (const QString &line : lines) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
        if (!line.isEmpty())
            nonEmpty << line;
    }
    // Joined with any line end and split again, the lines come back as they were: nothing is stripped twice.
    // A line that stripping emptied ("www.") is an empty line the second time and is skipped.
    for (const QString &lineEnd : { QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("\n") })
        FUZZ_CHECK(splitDomainLines(lines.join(lineEnd)) == nonEmpty);

    // Reading the file in pieces gives what decoding it in one go gives.
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    const ImportResult read = readDomainDevice(device, QStringLiteral("fuzz"), {}, readSize);
    FUZZ_CHECK(read.status == ImportResult::Ok);
    FUZZ_CHECK(read.domains == lines);
    return 0;
}
