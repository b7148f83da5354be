// The import's encoding detection, line splitting, cleaning, name mapping and CSV reading on any file. Input: one
// byte that picks the read size (and, by its top bit, lines or CSV), then the file's bytes.
#include "domainlist/domain_name.h"
#include "domainlist/import_file.h"
#include "fuzz_check.h"

#include <QBuffer>
#include <QByteArray>
#include <QStringList>

using namespace quernfold;

namespace {

ImportResult readInPieces(QByteArray &bytes, qsizetype readSize, ImportKind kind)
{
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    return readDomainDevice(device, QStringLiteral("fuzz"), {}, readSize, kind);
}

// The shortcuts for plain names and for rows already in the list's form give the library's answer.
void checkShortcuts(const QString &cleaned)
{
    const CheckedName quick = checkDomainName(cleaned);
    const CheckedName library = checkDomainNameThroughLibrary(cleaned);
    FUZZ_CHECK(quick.verdict == library.verdict);
    FUZZ_CHECK(quick.name == library.name);
    FUZZ_CHECK(listFormIfDifferent(cleaned) == (library.name == cleaned ? QString() : library.name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype readSize = 1 + data[0] % 64;
    const ImportKind kind = (data[0] & 0x80) ? ImportKind::Csv : ImportKind::Lines;
    QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);

    const QString text = decodeImportBytes(bytes);
    // One byte never decodes to more than one UTF-16 unit in either encoding.
    FUZZ_CHECK(text.size() <= bytes.size());

    // Every line as the cleaning leaves it, before any name is checked; the first few are enough.
    qsizetype rawLines = 0;
    for (const QStringView raw : QStringView(text).tokenize(u'\n')) {
        if (++rawLines > 16)
            break;
        for (const QStringView part : raw.tokenize(u'\r'))
            checkShortcuts(cleanDomain(part));
    }

    const QStringList lines = splitDomainLines(text);
    bool anyLooksLikeBlockLine = false;
    for (const QString &line : lines) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
        // What the import keeps is a domain in the list's form, and importing it again changes nothing: nothing is
        // stripped or mapped twice.
        FUZZ_CHECK(importedName(line).verdict == NameVerdict::Domain);
        FUZZ_CHECK(importedDomain(line) == line);
        FUZZ_CHECK(listFormIfDifferent(line).isNull());
        const QString registrable = registrableDomain(line);
        FUZZ_CHECK(registrable.isEmpty() || line == registrable || line.endsWith(u'.' + registrable));
        anyLooksLikeBlockLine = anyLooksLikeBlockLine || line.count(QStringLiteral("----")) >= 4;
    }
    // Joined with any line end and split again, the domains come back as they were (unless one of them happens to
    // look like a line of our export block, which the second reading takes apart).
    if (!anyLooksLikeBlockLine) {
        for (const QString &lineEnd : { QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("\n") })
            FUZZ_CHECK(splitDomainLines(lines.join(lineEnd)) == lines);
    }

    // Reading the file in pieces gives what reading it in one go gives, and for lines what decoding it does.
    const ImportResult read = readInPieces(bytes, readSize, kind);
    FUZZ_CHECK(read.status == ImportResult::Ok);
    const ImportResult whole = readInPieces(bytes, std::max<qsizetype>(bytes.size(), 1), kind);
    FUZZ_CHECK(read.domains() == whole.domains());
    FUZZ_CHECK(read.skipped == whole.skipped);
    if (kind == ImportKind::Lines)
        FUZZ_CHECK(read.domains() == lines);
    for (size_t i = 0; i < read.rows.size(); ++i) {
        const bool cellsRead = read.rows[i].lookup != nullptr;
        FUZZ_CHECK(cellsRead == (whole.rows[i].lookup != nullptr));
        if (cellsRead) {
            FUZZ_CHECK(read.rows[i].lookup->record.siteName == whole.rows[i].lookup->record.siteName);
            FUZZ_CHECK(read.rows[i].lookup->note == whole.rows[i].lookup->note);
        }
    }
    return 0;
}
