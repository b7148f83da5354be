#pragma once

#include <QString>

namespace quernfold {

// The system clipboard: what the user copies from the list goes there for other programs to paste, and what
// another program copied can be pasted into the list.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    virtual void setText(const QString &text) = 0;
    // Its plain text; empty when it holds none.
    virtual QString text() const = 0;
};

} // namespace quernfold
