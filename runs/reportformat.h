#pragma once

#include "runreader.h"

#include <QByteArray>
#include <QString>

// The reports of a run as text for people and programs: the log's text, CSV with a line naming
// the columns, or JSON Lines (one object a line). Time is in seconds into the run; a raw capture
// has no time stamps and leaves it empty (null in JSON).
//
// Columns (CSV) and keys (JSON), in this order:
//   time      seconds since the run's start, 9 decimals
//   id        the report's ID (its instruction's)
//   level     priority level 0-7
//   source    polling or interrupt
//   flow      flow ID (which run of its program)
//   address   VME address
//   mode      the mode word, with its status bits
//   status    the status bits (bits 3-0 of the mode word)
//   vme_error, param_error   the two error bits, 0 or 1 (false or true)
//   width     bits per data item: 8, 16 or 32
//   items     how many data items
//   d0        the first data item (empty without data)
//   data      every data item, separated by spaces (a list in JSON)
// Every number is decimal.
class ReportFormatter
{
public:
    enum class Format { Text, Csv, Jsonl };

    // originNs: the time that counts as 0; timed: whether the reports carry time stamps.
    ReportFormatter(Format format, qint64 originNs, bool timed);

    static bool parseFormat(const QString &name, Format &format);
    // What comes before the first report: the column names and a line feed for CSV, else nothing.
    QByteArray head() const;
    // Appends one report.
    void append(const RunReport &report, QByteArray &out);
    // Seconds into the run of a time stamp.
    double seconds(qint64 timeNs) const { return double(timeNs - origin) / 1e9; }

private:
    Format format;
    qint64 origin;
    bool timed;
    QString text; // reused for the log text
};
