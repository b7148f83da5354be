#include "lookup/registrable_name.h"

#include <QStringList>

namespace quernfold {

QString registrableName(const QString &domain)
{
    const QList<QStringView> labels = QStringView(domain).split(u'.');
    const qsizetype count = labels.size();
    if (count <= 2)
        return domain;
    static const QStringList kSecondLevel = { QStringLiteral("com"), QStringLiteral("net"), QStringLiteral("org"),
        QStringLiteral("gov"), QStringLiteral("edu"), QStringLiteral("ac") };
    const QStringView top = labels.at(count - 1);
    const bool countryCode = top.size() == 2 && top.at(0).isLetter() && top.at(1).isLetter();
    const bool underCountry = countryCode && kSecondLevel.contains(labels.at(count - 2), Qt::CaseInsensitive);
    const qsizetype keep = underCountry ? 3 : 2;
    if (count <= keep)
        return domain;
    // The kept labels are the tail of the text: everything after the dot before the first of them.
    qsizetype start = domain.size();
    for (qsizetype i = 0; i < keep; ++i)
        start = domain.lastIndexOf(u'.', start - 1);
    return domain.mid(start + 1);
}

} // namespace quernfold
