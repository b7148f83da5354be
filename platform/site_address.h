#pragma once

#include <QString>

namespace quernfold {

// A site address as the program appends paths to it: no surrounding blanks, no trailing slash.
QString trimmedBase(QString base);

// The address lies under the reserved ".example" domain: the built-in placeholder of a build that was never told
// the real site, which can never answer.
bool isPlaceholderAddress(const QString &base);

} // namespace quernfold
