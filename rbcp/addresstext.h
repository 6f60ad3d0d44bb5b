#pragma once

#include <QHostAddress>
#include <QString>

// Module addresses as the operator types them on the General tab.
namespace AddressText {

// Exactly four dot-separated fields of decimal digits, each 0 to 255. A leading zero does not
// make a field octal: "10.00.08.09", the form in which the settings view shows an address, is
// 10.0.8.9. Shorthand forms ("192.168.1016"), hexadecimal and surrounding blanks are refused.
bool ipv4(const QString &text, quint32 *address);

// An IPv4 text read as ipv4() does, or an IPv6 text (one with a colon); null for anything else.
QHostAddress host(const QString &text);

} // namespace AddressText
