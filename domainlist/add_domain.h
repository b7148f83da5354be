#pragma once

#include <QString>

namespace quernfold {

// The loose test a typed domain must pass: one of the accepted suffix texts occurs anywhere in it,
// compared exactly (case-sensitive).
bool containsAcceptedSuffix(const QString &text);

} // namespace quernfold
