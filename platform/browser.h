#pragma once

#include <QUrl>

namespace quernfold {

// Opens an address in the user's default browser without waiting for it.
class Browser
{
public:
    virtual ~Browser() = default;
    virtual bool openUrl(const QUrl &url) = 0;
};

} // namespace quernfold
