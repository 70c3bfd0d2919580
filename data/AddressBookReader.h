#pragma once

#include "data/ContactList.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The contacts of an address-book file as people have them: the exchange file's
// "Name","Number",SentCount lines, a spreadsheet's CSV, or vCards.
//
// Text: UTF-16 with a byte-order mark, UTF-8 with or without one, else Windows-1252 (a
// spreadsheet saved on Windows). vCard values may name their own CHARSET and be
// quoted-printable.
//
// CSV: the delimiter is ",", ";" or a tab, whichever the first lines use outside quotes (a comma
// when in doubt). A first line naming a name column and a number column (in English, German,
// French, Spanish, Italian, Portuguese or Polish) is a header: the columns are then taken by
// their names, a mobile column before any other number column, a full-name column before
// first and last names (a line of three fields whose third is a number is no header: an
// exchange file's contact). Without a header the columns are name, number and sent count. A
// quoted field may hold the delimiter, line breaks (kept as they are) and doubled quotes (one
// quote each). A line that is
// malformed (text after a closing quote, a quote never closed) is skipped and reported with its
// number; the rest is read. Lines without a name or a number are left out silently.
//
// vCard 2.1, 3.0 and 4.0: one contact per card, named by FN, else N (given name, then family
// name), else ORG; its number is the first preferred TEL marked as a mobile, else the first
// mobile, else the first TEL. Cards without a number are counted.
struct AddressBook {
    enum class Format { Csv, VCard };
    Format format = Format::Csv;
    // "ASCII", "UTF-8", "UTF-16" or "Windows-1252".
    QString encoding;
    // The usable contacts in file order, checked, duplicates included.
    QList<Contact> contacts;
    // "line 7: " and the reason, one per malformed line.
    QStringList skippedLines;
    int cardsWithoutNumber = 0;
};

AddressBook readAddressBook(const QByteArray &bytes);
