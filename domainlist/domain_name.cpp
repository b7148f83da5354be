#include "domainlist/domain_name.h"

#include "domainlist/domain_cleaner.h"

#include <idn2.h>
#include <libpsl.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QHashFunctions>

namespace quernfold {

namespace {

constexpr qsizetype kMostAsciiCharacters = 253;
// Mapping drops some characters (soft hyphens, joiners, variation selectors), so a line can be longer than the name
// it gives, but never by this much: a longer one is refused before the library spends time on it.
constexpr qsizetype kMostTypedUnits = 1024;
constexpr size_t kRememberedSuffixes = 4096;

// A name's ASCII form as libpsl reads it: a C string.
struct AsciiName {
    std::array<char, kMostAsciiCharacters + 1> text {};
    qsizetype size = 0;
};

bool isLdh(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
}

// The characters the library gives back unchanged in every label of a name it accepts: LDH, the lower-case
// letters of Latin-1 and the ideographs of Unicode 1.1. None of them maps, composes, or carries a bidi or joiner
// rule.
bool keepsItsForm(char16_t c)
{
    return isLdh(c) || (c >= u'\u00E0' && c <= u'\u00FF' && c != u'\u00F7') || (c >= u'\u4E00' && c <= u'\u9FA5');
}

// Whether every character passes `keeps` and no label has "--" in its third and fourth place: "xn--" starts an
// A-label, which the library decodes, and IDNA reserves the other such labels.
template <typename Keeps> bool isMadeOf(QStringView text, Keeps keeps)
{
    const char16_t *const p = text.utf16();
    qsizetype labelStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = p[i];
        if (c == u'.') {
            labelStart = i + 1;
            continue;
        }
        if (!keeps(c))
            return false;
        if (c == u'-' && i == labelStart + 3 && p[i - 1] == u'-')
            return false;
    }
    return true;
}

// Plain lower-case LDH names skip the library: for them it answers with the name itself (tested).
bool isPlainName(QStringView text)
{
    return isMadeOf(text, isLdh);
}

bool toAscii(QStringView text, AsciiName &ascii)
{
    if (text.size() > kMostTypedUnits || text.contains(QChar(u'\0')))
        return false;
    const QByteArray utf8 = text.toUtf8();
    char *mapped = nullptr;
    const int status = idn2_lookup_u8(reinterpret_cast<const uint8_t *>(utf8.constData()),
        reinterpret_cast<uint8_t **>(&mapped), IDN2_NONTRANSITIONAL);
    const std::unique_ptr<char, void (*)(void *)> owner(mapped, idn2_free);
    if (status != IDN2_OK || mapped == nullptr)
        return false;
    auto size = qsizetype(std::strlen(mapped));
    // A final "。" maps to the dot the cleaning takes off; a second ASCII one leaves an empty label, as it does
    // without the library.
    if (size > 0 && mapped[size - 1] == '.' && !text.endsWith(u'.'))
        --size;
    if (size > kMostAsciiCharacters)
        return false;
    // Host names are letters, digits and hyphens. libidn2's own switch for this (STD3) drops the other characters
    // instead of refusing the name in the version Debian ships: "a_b.com" would become "ab.com".
    for (qsizetype i = 0; i < size; ++i) {
        if (!isLdh(char16_t(mapped[i])) && mapped[i] != '.')
            return false;
    }
    std::memcpy(ascii.text.data(), mapped, size_t(size));
    ascii.text[size_t(size)] = '\0';
    ascii.size = size;
    return true;
}

void copyPlain(QStringView text, AsciiName &ascii)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        ascii.text[size_t(i)] = char(text[i].unicode());
    ascii.text[size_t(text.size())] = '\0';
    ascii.size = text.size();
}

// The Unicode form of an ASCII form: its A-labels decoded. Empty when one does not decode.
QString unicodeOf(const AsciiName &ascii)
{
    if (!std::strstr(ascii.text.data(), "xn--"))
        return QString::fromLatin1(ascii.text.data(), ascii.size);
    char *decoded = nullptr;
    const int status = idn2_to_unicode_8z8z(ascii.text.data(), &decoded, 0);
    const std::unique_ptr<char, void (*)(void *)> owner(decoded, idn2_free);
    return status == IDN2_OK && decoded ? QString::fromUtf8(decoded) : QString();
}

const psl_ctx_t *suffixList()
{
    // The newer of libpsl's built-in list and Debian's publicsuffix data, which stable updates keep current
    // without a new build of libpsl or of this program.
    static const psl_ctx_t *const list = [] {
        const psl_ctx_t *latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return list;
}

// Only the ICANN section: a registry hands out names under those suffixes, while the private section lists
// companies' own subdomains ("github.io").
bool isPublicSuffix(const char *suffix)
{
    return psl_is_public_suffix2(suffixList(), suffix, PSL_TYPE_ICANN | PSL_TYPE_NO_STAR_RULE) != 0;
}

// A lookup in the list costs a few hundred nanoseconds, most of it the call itself, while the suffixes of a long
// list repeat ("com", "com.cn"): each thread remembers the answers in a table of fixed size, where a suffix seen
// once takes one slot from another and a hostile file of made-up ones costs no memory.
class SuffixMemory
{
public:
    bool lookUp(const char *suffix)
    {
        const size_t length = std::strlen(suffix);
        Slot &slot = m_slots[qHashBits(suffix, length) % m_slots.size()];
        if (slot.known && slot.suffix.size() == length && std::memcmp(slot.suffix.data(), suffix, length) == 0)
            return slot.listed;
        slot.suffix.assign(suffix, length);
        slot.listed = isPublicSuffix(suffix);
        slot.known = true;
        return slot.listed;
    }

private:
    struct Slot {
        std::string suffix;
        bool listed = false;
        bool known = false;
    };
    std::vector<Slot> m_slots = std::vector<Slot>(kRememberedSuffixes);
};

bool isRememberedPublicSuffix(const char *suffix)
{
    thread_local SuffixMemory memory;
    return memory.lookUp(suffix);
}

bool isAllDigits(const char *text)
{
    if (*text == '\0')
        return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
    }
    return true;
}

NameVerdict verdictOf(const AsciiName &ascii)
{
    const char *const last = std::strrchr(ascii.text.data(), '.');
    const char *const tld = last ? last + 1 : ascii.text.data();
    // No top-level domain is all digits; a browser reads such a host as an IPv4 address.
    if (isAllDigits(tld))
        return NameVerdict::Address;
    if (!last)
        return NameVerdict::SingleLabel;
    return isRememberedPublicSuffix(tld) ? NameVerdict::Domain : NameVerdict::UnlistedSuffix;
}

enum class Path { Shortcut, Library };

CheckedName check(QString cleaned, AsciiName &ascii, Path path = Path::Shortcut)
{
    if (cleaned.isEmpty())
        return { {}, NameVerdict::Empty };
    if (cleaned.front() == u'[')
        return { {}, NameVerdict::Address };
    CheckedName checked;
    if (path == Path::Shortcut && isPlainName(cleaned)) {
        if (!isDomainName(cleaned))
            return { {}, NameVerdict::Malformed };
        copyPlain(cleaned, ascii);
        checked.name = std::move(cleaned);
    } else {
        if (!toAscii(cleaned, ascii) || !isDomainName(QString::fromLatin1(ascii.text.data(), ascii.size)))
            return { {}, NameVerdict::Malformed };
        checked.name = unicodeOf(ascii);
        if (checked.name.isEmpty())
            return { {}, NameVerdict::Malformed };
    }
    checked.verdict = verdictOf(ascii);
    return checked;
}

} // namespace

CheckedName checkDomainName(QString cleaned)
{
    AsciiName ascii;
    return check(std::move(cleaned), ascii);
}

CheckedName checkDomainNameThroughLibrary(QString cleaned)
{
    AsciiName ascii;
    return check(std::move(cleaned), ascii, Path::Library);
}

QStringView repeatKey(QStringView name)
{
    const QStringView www = u"www.";
    return name.size() > www.size() && name.startsWith(www) ? name.sliced(www.size()) : name;
}

QString listFormIfDifferent(QStringView listed)
{
    if (listed.isEmpty() || (isMadeOf(listed, keepsItsForm) && isDomainName(listed)))
        return {};
    AsciiName ascii;
    const CheckedName checked = check(listed.toString(), ascii);
    return checked.name.isEmpty() || checked.name == listed ? QString() : checked.name;
}

QString registrableDomain(QStringView name)
{
    AsciiName ascii;
    const CheckedName checked = check(name.toString(), ascii);
    if (checked.verdict != NameVerdict::Domain)
        return {};
    // The longest public suffix is the first one from the left; the whole name is asked about too, as it may be a
    // suffix itself ("com.cn"), but as the only suffix unlikely to come again it is not remembered.
    const char *const text = ascii.text.data();
    qsizetype previousLabel = -1;
    qsizetype labelsBefore = 0;
    for (qsizetype at = 0; at < ascii.size;) {
        const bool suffix = at == 0 ? isPublicSuffix(text) : isRememberedPublicSuffix(text + at);
        if (suffix) {
            if (previousLabel < 0)
                return {};
            // The list's form has the same labels as the ASCII form, one for one.
            QStringView kept = checked.name;
            for (qsizetype dropped = 0; dropped < labelsBefore - 1; ++dropped)
                kept = kept.sliced(kept.indexOf(u'.') + 1);
            return kept.toString();
        }
        previousLabel = at;
        ++labelsBefore;
        const char *const dot = std::strchr(text + at, '.');
        if (!dot)
            break;
        at = dot - text + 1;
    }
    return {};
}

} // namespace quernfold
