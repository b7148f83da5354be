#pragma once

#include <QString>
#include <QStringView>

namespace quernfold {

// What a cleaned name is, as registries and browsers decide it: libidn2's UTS #46 mapping (non-transitional) and
// IDNA2008 check, the letters, digits and hyphens of a host name, and the public suffix list through libpsl.
enum class NameVerdict {
    Domain,
    Empty,
    // An IPv4 or IPv6 literal.
    Address,
    // Refused by IDNA, or not the shape of a host name (an empty label, a label over 63 or a name over 253
    // characters in its ASCII form, a hyphen at a label's edge, a character outside letters, digits and hyphens).
    Malformed,
    SingleLabel,
    // The last label is no top-level domain of the public suffix list ("a.b").
    UnlistedSuffix,
};

struct CheckedName {
    // The form a list holds: the UTS #46 mapping of the name (lower case, NFC, full-width forms and the dots
    // "。．｡" mapped), its A-labels shown as Unicode. Set whenever IDNA accepts the name, also when it is no domain
    // for its labels or suffix; empty for Empty, Malformed and a bracketed address.
    QString name;
    NameVerdict verdict = NameVerdict::Empty;
};

// `cleaned` is a line after cleanDomain. A trailing dot that the mapping makes (a final "。") goes as the cleaning's
// own trailing dot does.
CheckedName checkDomainName(QString cleaned);
// The same without the shortcut that spares plain lower-case LDH names the library: every name through libidn2.
// The two must agree on every input; the tests and the fuzz target hold them to it.
CheckedName checkDomainNameThroughLibrary(QString cleaned);

// Repeats are found on this: the name without a leading "www." label, so "www.newsite.cn" and "newsite.cn" are one
// name. `name` is in the list's form.
QStringView repeatKey(QStringView name);

// The list's form of a text a list already holds, for comparing it with new names: a row kept from before names
// were mapped can read "ÄBC.de" or "xn--fiqs8s.cn". Null when the text is its own list form, or when IDNA refuses
// it (then it only equals itself).
QString listFormIfDifferent(QStringView listed);

// The public suffix of the name (ICANN section) plus the label before it, in the list's form:
// "blog.shop.example.com.cn" gives "example.com.cn". Empty when the name is no domain or is a public suffix itself.
QString registrableDomain(QStringView name);

} // namespace quernfold
