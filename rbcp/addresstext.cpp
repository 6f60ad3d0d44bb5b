#include "addresstext.h"

#include <QStringList>

namespace AddressText {

bool ipv4(const QString &text, quint32 *address)
{
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return false;
    quint32 value = 0;
    for (const QString &field : fields) {
        if (field.isEmpty())
            return false;
        uint octet = 0;
        for (const QChar c : field) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            octet = octet * 10 + uint(c.unicode() - '0');
            if (octet > 255)
                return false;
        }
        value = (value << 8) | octet;
    }
    if (address)
        *address = value;
    return true;
}

QHostAddress host(const QString &text)
{
    if (text.contains(QLatin1Char(':'))) {
        QHostAddress v6;
        if (v6.setAddress(text) && v6.protocol() == QAbstractSocket::IPv6Protocol)
            return v6;
        return QHostAddress();
    }
    quint32 v4 = 0;
    return ipv4(text, &v4) ? QHostAddress(v4) : QHostAddress();
}

} // namespace AddressText
