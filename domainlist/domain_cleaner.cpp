#include "domainlist/domain_cleaner.h"

#include "domainlist/domain_name.h"

#include <algorithm>

namespace quernfold {

namespace {

constexpr qsizetype kMostLabelCharacters = 63;
constexpr qsizetype kMostNameCharacters = 253;

// Text copied out of a browser or a spreadsheet brings no-break and ideographic spaces along, not only blanks
// and tabs; all of them are padding around a name and none can stand inside one.
bool isBlank(QChar c)
{
    return c.isSpace();
}

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isSchemeCharacter(char16_t c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

// A plain scan: lines are short and most hold no "www." at all, where a general search costs more.
bool containsWww(QStringView line)
{
    const char16_t *const p = line.utf16();
    for (qsizetype i = 0; i + 3 < line.size(); ++i) {
        if (p[i] == u'w' && p[i + 1] == u'w' && p[i + 2] == u'w' && p[i + 3] == u'.')
            return true;
    }
    return false;
}

// Whether a name starts at `at`: nothing before it, or a character that cannot be part of a name.
bool beginsLabel(QStringView line, qsizetype at)
{
    if (at == 0)
        return true;
    char32_t before = line[at - 1].unicode();
    if (at >= 2 && QChar::isLowSurrogate(before) && line[at - 2].isHighSurrogate())
        before = QChar::surrogateToUcs4(line[at - 2], line[at - 1]);
    return before != U'-' && !QChar::isLetterOrNumber(before);
}

// The host part of an address: what stands before the path, query or fragment, after the user info and before
// the port. An IPv6 literal keeps its brackets and the colons inside them, so it is told apart as an address.
QStringView hostOf(QStringView address)
{
    const char16_t *const p = address.utf16();
    qsizetype end = 0;
    while (end < address.size() && p[end] != u'/' && p[end] != u'?' && p[end] != u'#')
        ++end;
    QStringView host = address.first(end);
    const qsizetype at = host.lastIndexOf(u'@');
    if (at >= 0)
        host = host.sliced(at + 1);
    const qsizetype colon = host.indexOf(u':', host.startsWith(u'[') ? std::max<qsizetype>(host.indexOf(u']'), 0) : 0);
    if (colon >= 0)
        host = host.first(colon);
    return host;
}

} // namespace

QString cleanDomain(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    QStringView rest = text.sliced(begin, end - begin);

    if (!rest.isEmpty() && isAsciiLetter(rest.front().unicode())) {
        qsizetype schemeEnd = 1;
        while (schemeEnd < rest.size() && isSchemeCharacter(rest[schemeEnd].unicode()))
            ++schemeEnd;
        if (rest.sliced(schemeEnd).startsWith(u"://"))
            rest = rest.sliced(schemeEnd + 3);
    }
    QStringView host = hostOf(rest);
    if (host.endsWith(u'.'))
        host.chop(1);

    // One copy, lower-casing on the way; Unicode case rules are left alone, so non-ASCII names stay as written.
    QString name(host.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(name.data());
    for (const QChar c : host) {
        const char16_t unit = c.unicode();
        *out++ = (unit >= u'A' && unit <= u'Z') ? char16_t(unit + (u'a' - u'A')) : unit;
    }
    return name;
}

bool isDomainName(QStringView name)
{
    if (name.isEmpty())
        return false;
    const char16_t *const p = name.utf16();
    qsizetype characters = 0;
    qsizetype labelStart = 0;
    qsizetype labelCharacters = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i == name.size() || p[i] == u'.') {
            if (i == labelStart || p[labelStart] == u'-' || p[i - 1] == u'-' || labelCharacters > kMostLabelCharacters)
                return false;
            labelStart = i + 1;
            labelCharacters = 0;
            if (i < name.size())
                ++characters;
            continue;
        }
        if (isBlank(QChar(p[i])))
            return false;
        // The second half of a character beyond the BMP is not a character of its own.
        if (QChar::isLowSurrogate(p[i]) && i > labelStart && QChar::isHighSurrogate(p[i - 1]))
            continue;
        ++labelCharacters;
        ++characters;
    }
    return characters <= kMostNameCharacters;
}

QString stripWww(QString line)
{
    const QStringView www = u"www.";
    const QStringView original(line);
    QString kept;
    kept.reserve(line.size());
    qsizetype copiedTo = 0;
    for (qsizetype at = original.indexOf(www); at >= 0; at = original.indexOf(www, at + 1)) {
        if (!beginsLabel(original, at))
            continue;
        kept.append(original.sliced(copiedTo, at - copiedTo));
        copiedTo = at + www.size();
    }
    if (copiedTo == 0)
        return line;
    kept.append(original.sliced(copiedTo));
    return kept;
}

CheckedName importedName(QStringView line)
{
    CheckedName checked = checkDomainName(cleanDomain(line));
    if (checked.verdict != NameVerdict::Domain || !containsWww(checked.name))
        return checked;
    checked.name = stripWww(std::move(checked.name));
    // Taking whole labels off the front leaves the other labels and the suffix as they were; only the count can
    // fall to one ("www.com").
    if (!checked.name.contains(u'.'))
        checked.verdict = NameVerdict::SingleLabel;
    return checked;
}

QString importedDomain(QStringView line)
{
    CheckedName checked = importedName(line);
    return checked.verdict == NameVerdict::Domain ? std::move(checked.name) : QString();
}

} // namespace quernfold
