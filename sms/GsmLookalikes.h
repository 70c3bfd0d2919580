#pragma once

#include <QString>
#include <QStringView>

// Characters that word processors and phone keyboards put into texts in place of plain ones
// (curly quotes, dashes, the ellipsis, special spaces, bullets): none is in the GSM alphabet,
// so one of them makes a whole message UCS-2, which holds less than half as much. Each has a
// GSM replacement that reads the same.

// The GSM text that replaces ch, or an empty view when ch has no look-alike.
QStringView gsmLookalike(char32_t ch);

// The text with every look-alike replaced; replaced, when given, counts the characters replaced.
QString replaceGsmLookalikes(QStringView text, int *replaced = nullptr);
