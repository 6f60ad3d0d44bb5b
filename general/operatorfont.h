#pragma once

#include <QFont>

// The fixed-pitch font of the log and data views: the designed family when the system has it,
// otherwise the system's fixed-pitch font at the same size, so that hex columns line up.
QFont operatorFont(int pointSize = 9);
void applyOperatorFont(QWidget *widget, int pointSize = 9);
