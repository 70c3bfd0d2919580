#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// A small ini file reader and writer that edits the file in place.
//
// Sections ("[name]" on a line of its own) and keys ("key=value" inside a section) are matched
// without regard to letter case, with surrounding blanks ignored; the first section of a name and
// the first key of a name in it count. Lines starting with ';' or '#' are comments.
//
// Reading: the file is read when the object is created (and by Reload). A file that is missing
// or cannot be read reads as empty. Values are trimmed; a value in double quotes loses the
// quotes, so that a value with outer blanks survives a round trip.
//
// Writing: Write*, DeleteKey and EraseSection change the object at once and are remembered until
// updateFile, which reads the file again, replays the remembered changes over what is on disk
// now and replaces the file atomically. Another writer's changes made meanwhile therefore survive
// (the settings store and the main window share one file, each with its own object). Every line
// the changes do not concern stays as it was, byte for byte, line end included. A changed value
// keeps its key's spelling and the blanks around '='; a new key goes after the last key of its
// section (right after the header when it has none); a new section goes at the end of the file,
// after a blank line. New lines end the way the file's first line ends; a new file gets LF ends.
// The destructor does not write: changes not given to updateFile are dropped.
//
// Text is UTF-8. Not thread-safe: one thread uses one object.
class IniFile {
public:
    explicit IniFile(QString fileName);
    ~IniFile();

    IniFile(const IniFile &) = delete;
    IniFile &operator=(const IniFile &) = delete;

    const QString &fileName() const { return m_fileName; }

    QString readString(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // Decimal; a value that is not a whole number in range gives defaultValue.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;
    // TRUE, YES, Y and FALSE, NO, N in any letter case; anything else gives defaultValue.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    // The key names of the section as spelled in the file, in file order, without duplicates.
    QStringList readSection(const QString &section) const;
    // The section names as spelled in the file, in file order, without duplicates.
    QStringList readSections() const;

    // Names and values that the file could not hold (an empty name, a line break, '=' in a key,
    // ']' in a section, a key starting like a comment or a section) raise Error.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    // Writes "TRUE" or "FALSE".
    void writeBool(const QString &section, const QString &key, bool value);
    void deleteKey(const QString &section, const QString &key);
    // Removes the section's header and every line up to the next section.
    void eraseSection(const QString &section);

    // Writes the changes made since the last successful updateFile. True when the file holds
    // them afterwards (also when there was nothing to write, in which case the file is not
    // touched, nor created). False when the file could not be read or written: the old file is
    // left as it was, errorString says why, and the changes stay pending for another try.
    bool updateFile();
    bool hasPendingChanges() const { return !m_pending.isEmpty(); }
    const QString &errorString() const { return m_errorString; }

    // Reads the file again and applies the pending changes on top.
    void reload();

private:
    class Document;
    struct Change {
        enum Kind { Write, DeleteKey, EraseSection };
        Kind kind;
        QString section;
        QString key;
        QString value;
    };

    static void apply(Document &document, const Change &change);
    void record(Change change);

    QString m_fileName;
    std::unique_ptr<Document> m_document;
    QList<Change> m_pending;
    QString m_errorString;
};
