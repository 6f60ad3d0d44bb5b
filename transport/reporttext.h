#pragma once

#include "packet.h"

#include <QString>

// Text forms of the packets that the module's programs report, as the received-data log shows them.
namespace ReportText {

// 63 dashes and a line feed: the rule between the parts of a report.
extern const QString Separator;

// Address, length in items, priority level and source, flow ID, mode, ID: one line each.
void dumpVmeHeader(const kelvo_vme_master_header &header, QString &out);

// 16 bytes per row, each row starting with the VME address of its first byte.
void dumpPacket(const char *data, int count, QString &out, quint32 address);

// A whole report: rule, header text, and when there is data a rule and the data rows; then a rule.
void appendReport(const kelvo_vme_master_header &header, const char *data, int count, QString &out);

} // namespace ReportText
