#pragma once

#include <QString>

namespace quernfold {

// The registrable domain a filing record belongs to: "blog.shop.example.com.cn" gives "example.com.cn". A small
// rule of thumb, not the public suffix list: the last two labels, or the last three when the top label is a
// two-letter country code and the second-level one is com, net, org, gov, edu or ac. A name with no more labels
// than that comes back as it is.
QString registrableName(const QString &domain);

} // namespace quernfold
