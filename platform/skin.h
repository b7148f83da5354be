#pragma once

#include <QString>

namespace quernfold {

// Gives the program's windows the look described by a skin file. Our skin format is a Qt style sheet.
class Skin
{
public:
    virtual ~Skin() = default;
    // Result is informational only: a missing or unreadable file leaves the look unchanged, silently.
    virtual bool attach(const QString &path) = 0;
};

} // namespace quernfold
