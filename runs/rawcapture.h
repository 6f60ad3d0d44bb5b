#pragma once

#include "reportobserver.h"

#include <QString>

class QIODevice;

// Feeds every report of a raw capture (the module's packets back to back, as `tarnixctl listen
// --raw` saves them) to an observer, publishing after every chunk read. False, with why, for a
// broken header or a file that ends inside a packet; the reports before that point were observed.
bool readRawCapture(QIODevice &file, ReportObserver &observer, QString *error, quint64 *reports = nullptr);
