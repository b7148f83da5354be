#pragma once

#include "domainlist/domain_name.h"

#include <QString>
#include <QStringView>

namespace quernfold {

// A line as people paste it, reduced to the host name it names: blanks around it, a scheme ("http://"), user
// info, port, path, query and fragment and one trailing dot go, and ASCII letters are lower-cased. Other
// characters stay as written; checkDomainName maps them. An IPv6 literal keeps its brackets.
QString cleanDomain(QStringView text);

// The shape of a host name, checked on its ASCII form: not empty, no blank in it, no empty label, no label that
// begins or ends with a hyphen or is longer than 63 characters, and at most 253 characters in all.
bool isDomainName(QStringView name);

// A "www." in this exact case goes where it begins a label: at the start of the line or after a character that
// is not a letter, digit or hyphen. Inside a name ("newww.cn", "awww.com") it is part of the name and stays.
QString stripWww(QString line);

// What the import makes of one line: cleaned, checked and mapped (checkDomainName), then "www." taken off where it
// begins a label.
CheckedName importedName(QStringView line);
// The same, as the list's text: empty when the line is no domain.
QString importedDomain(QStringView line);

} // namespace quernfold
