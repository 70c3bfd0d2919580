#pragma once

#include "data/RecordList.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

class StreamReader;
class StreamWriter;

// One address-book entry. A fresh contact is checked. Checked is a byte (0 or 1 when made by
// the program; other values read from a file are kept, and count as checked).
struct Contact {
    QString name;
    QByteArray number;
    qint32 sentCount = 0;
    quint8 checked = 1;

    bool operator==(const Contact &other) const = default;
};

struct ImportResult {
    qint32 imported = 0;
    qint32 duplicates = 0;
    // "line 7: " and the reason, one per malformed line that was skipped.
    QStringList skippedLines;
    // vCards that had no telephone number.
    qint32 cardsWithoutNumber = 0;
    // How the file's text was read: "ASCII", "UTF-8", "UTF-16" or "Windows-1252".
    QString encoding;
    bool vCard = false;
};

// The address book. Stream format: int32 count, then per contact Name (wide field), Number
// (ansi field), sentCount (int32), Checked (one byte). Numbers are compared byte for byte.
class ContactList final : public RecordList<Contact, ContactList> {
public:
    ContactList() = default;
    // Clears the list (which notifies).
    ~ContactList();

    // Adds 1 to the sentCount of the first contact whose Number equals number; nothing when
    // none does. No notification (the sender calls it while holding the outbox lock). One scan
    // of the list: a few hundred microseconds for 100,000 contacts, once per sent message.
    void incSentCount(const QByteArray &number);

    // Number of contacts whose Checked is not 0.
    int checkedCount() const;

    // Writes the list under the lock; no notification.
    void saveToStream(QIODevice &device) const;
    void saveToStream(StreamWriter &writer) const;

    // Replaces the contents with the list read from the stream; no notification. Reads nothing
    // and changes nothing unless version is 10; a failed load leaves the list as it was.
    void loadFromStream(QIODevice &device, int version);
    void loadFromStream(StreamReader &reader, int version);

    // Fills contact from one line of an exchange file: name (converted from the local 8-bit
    // encoding), number, sent count (0 when not an integer); further fields are ignored. True
    // when both name and number are present. Raises the CSV error of extractFields.
    static bool parseContactLine(const QByteArray &line, Contact &contact);

    // Appends the usable contacts of an address-book file (an exchange file, a spreadsheet's
    // CSV or vCards: see readAddressBook), skipping those whose number is already in the list
    // or earlier in the file. Numbers are compared once parsed with the country's dialling
    // rules ("0151 2345678" and "+49 151 2345678" are one number for "DE"); numbers that do
    // not parse are compared as they are. A malformed line is skipped and reported in the
    // result; the rest of the file is read. Holds the lock for the whole run and notifies
    // once, after the lock is released, when at least one contact was added. A file that
    // cannot be read fails with the file's error before anything changes, and so does one that
    // is not text ("Cannot import NAME: it is not a text file", a NUL byte outside UTF-16) or
    // has a line longer than 64 KiB ("Cannot import NAME: line 3 is longer than 64 KiB").
    ImportResult importFromFile(const QString &fileName, const QString &country = QString());

    // The indices of the contacts whose number another contact has too, once both are parsed
    // with the country's dialling rules: grouped by number, the groups in the order of their
    // first contact, list order inside a group. Blank numbers are no one's duplicates.
    QList<int> duplicateIndices(const QString &country) const;

    // Writes every contact as the line "NAME","NUMBER",COUNT and CR LF (name in the local 8-bit
    // encoding, a quote inside a value doubled), which importFromFile reads back as it was. The
    // old file is replaced only when every byte has been written: on failure it is left as it
    // was and the error ("Cannot write NAME: " and the system's reason) is raised. No
    // notification.
    void exportToFile(const QString &fileName) const;
};

// The lines an import summary adds to its counts, each a sentence of its own: the encoding
// when the text was not plain ASCII, the vCards without a number, the malformed lines skipped
// (counted; the lines themselves are in skippedLines).
QStringList importDetails(const ImportResult &result);
