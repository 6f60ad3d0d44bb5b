#include "tcpowner.h"

void TcpOwner::startTcp()
{
    events << QStringLiteral("connected");
}

void TcpOwner::stopped()
{
    events << QStringLiteral("closed");
}

void TcpOwner::displayError(QString *text)
{
    lastError = *text;
    errors << *text;
    logSizeAtError = int(log.size());
    events << QStringLiteral("error");
}

void TcpOwner::received(quint8 id, quint16 mode, QByteArray *buf)
{
    ids << id;
    modes << mode;
    responses << *buf;
    if (onReceived)
        onReceived(id, mode, *buf);
    buf->clear();
}

void TcpOwner::appendLog(QString *text)
{
    log += *text;
    ++logDeliveries;
    appendPasses << passes;
    text->clear();
}
