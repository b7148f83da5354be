#include "domainlist/add_domain.h"

namespace quernfold {

bool containsAcceptedSuffix(const QString &text)
{
    static const char16_t *const suffixes[] = { u"com", u"cn", u"org", u"info", u"hk", u"me", u"net", u"cc" };
    for (const char16_t *suffix : suffixes) {
        if (text.contains(QStringView(suffix), Qt::CaseSensitive))
            return true;
    }
    return false;
}

} // namespace quernfold
