#include "operatorfont.h"

#include <QFontDatabase>
#include <QWidget>

QFont operatorFont(int pointSize)
{
    const QString family = QStringLiteral("ＭＳ ゴシック");
    if (QFontDatabase::hasFamily(family)) {
        QFont f(family);
        f.setPointSize(pointSize);
        return f;
    }
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSize(pointSize);
    return f;
}

void applyOperatorFont(QWidget *widget, int pointSize)
{
    widget->setFont(operatorFont(pointSize));
}
