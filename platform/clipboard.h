#pragma once

#include <QString>

namespace quernfold {

// The system clipboard: what the user copies from the list goes there for other programs to paste.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    virtual void setText(const QString &text) = 0;
};

} // namespace quernfold
