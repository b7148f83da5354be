// The domain-to-path encoding on any domain: one path segment of unreserved characters and percent escapes
// that decodes back to the domain, behind an unchanged host and folder.
#include "fuzz_check.h"
#include "lookup/query_row.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

using namespace quernfold;

namespace {

bool isUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
        || c == '_' || c == '~';
}

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void check(const QString &base, const QString &domain)
{
    const QUrl url = recordPageUrl(base, domain);
    const QUrl baseUrl(base);
    FUZZ_CHECK(url.isValid());
    FUZZ_CHECK(url.scheme() == baseUrl.scheme() && url.host() == baseUrl.host() && url.port() == baseUrl.port());
    FUZZ_CHECK(url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment());

    // What goes on the wire, not what QUrl shows.
    const QByteArray path = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    const QByteArray folder = baseUrl.path(QUrl::FullyEncoded).toUtf8() + "/s-0/";
    FUZZ_CHECK(path.startsWith(folder) && path.endsWith(".html"));
    const QByteArray segment = path.sliced(folder.size(), path.size() - folder.size() - 5);
    for (qsizetype i = 0; i < segment.size(); ++i) {
        if (segment.at(i) == '%') {
            FUZZ_CHECK(i + 2 < segment.size() && isUpperHex(segment.at(i + 1)) && isUpperHex(segment.at(i + 2)));
            i += 2;
        } else {
            FUZZ_CHECK(isUnreserved(segment.at(i)));
        }
    }
    FUZZ_CHECK(QByteArray::fromPercentEncoding(segment) == domain.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Every domain in the list is text decoded from a file or typed, so it is valid Unicode.
    const QString domain = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    check(QStringLiteral("http://lookup.example"), domain);
    check(QStringLiteral("http://127.0.0.1:8080/mirror/cn"), domain);
    return 0;
}
