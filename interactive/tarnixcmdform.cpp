#include "tarnixcmdform.h"

TarnixCmdForm::TarnixCmdForm(QWidget *parent) : QWidget(parent) {}

void TarnixCmdForm::received(quint8, quint16, const QByteArray &) {}
