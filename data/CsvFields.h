#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Splits one line of comma-separated 8-bit text into fields. A field may be enclosed in
// double quotes to hold commas; nothing is trimmed and a doubled quote is not an escape.
// Empties fields first, then appends the fields in order. A malformed line (an unclosed
// quote, anything but a comma after a closing quote) raises the CSV error; the fields found
// before the fault stay in the list. A field left empty at the end of the line is not
// appended.
void extractFields(const QByteArray &line, QList<QByteArray> &fields);

// The error text of a malformed line.
QString csvErrorText();
