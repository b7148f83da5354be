#pragma once

#include <QString>
#include <QStringView>

namespace quernfold {

// A line as people paste it, reduced to the host name it names: blanks around it, a scheme ("http://"), user
// info, port, path, query and fragment and one trailing dot go, and ASCII letters are lower-cased. Other
// characters, Chinese names among them, stay as written. What is left may still be no domain (isDomainName).
QString cleanDomain(QStringView text);

// Whether a cleaned name can stand for a domain: not empty, no blank in it, no empty label, no label that begins
// or ends with a hyphen or is longer than 63 characters, and at most 253 characters in all.
bool isDomainName(QStringView name);

// A "www." in this exact case goes where it begins a label: at the start of the line or after a character that
// is not a letter, digit or hyphen. Inside a name ("newww.cn", "awww.com") it is part of the name and stays.
QString stripWww(QString line);

// What the import makes of one line: cleaned, "www." taken off where it begins a label, then checked. An empty
// string when the line is not a domain.
QString importedDomain(QStringView line);

} // namespace quernfold
