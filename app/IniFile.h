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
// UpdateFile, which reads the file again, replays the remembered changes over what is on disk
// now and replaces the file atomically. Another writer's changes made meanwhile therefore survive
// (the settings store and the main window share one file, each with its own object). Every line
// the changes do not concern stays as it was, byte for byte, line end included. A changed value
// keeps its key's spelling and the blanks around '='; a new key goes after the last key of its
// section (right after the header when it has none); a new section goes at the end of the file,
// after a blank line. New lines end the way the file's first line ends; a new file gets LF ends.
// The destructor does not write: changes not given to UpdateFile are dropped.
//
// Text is UTF-8. Not thread-safe: one thread uses one object.
class TIniFile {
public:
    explicit TIniFile(QString fileName);
    ~TIniFile();

    TIniFile(const TIniFile &) = delete;
    TIniFile &operator=(const TIniFile &) = delete;

    const QString &FileName() const { return FFileName; }

    QString ReadString(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // Decimal; a value that is not a whole number in range gives defaultValue.
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;
    // TRUE, YES, Y and FALSE, NO, N in any letter case; anything else gives defaultValue.
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;
    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &key) const;
    // The key names of the section as spelled in the file, in file order, without duplicates.
    QStringList ReadSection(const QString &section) const;
    // The section names as spelled in the file, in file order, without duplicates.
    QStringList ReadSections() const;

    // Names and values that the file could not hold (an empty name, a line break, '=' in a key,
    // ']' in a section, a key starting like a comment or a section) raise EPelorvane.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    // Writes "TRUE" or "FALSE".
    void WriteBool(const QString &section, const QString &key, bool value);
    void DeleteKey(const QString &section, const QString &key);
    // Removes the section's header and every line up to the next section.
    void EraseSection(const QString &section);

    // Writes the changes made since the last successful UpdateFile. True when the file holds
    // them afterwards (also when there was nothing to write, in which case the file is not
    // touched, nor created). False when the file could not be read or written: the old file is
    // left as it was, ErrorString says why, and the changes stay pending for another try.
    bool UpdateFile();
    bool HasPendingChanges() const { return !FPending.isEmpty(); }
    const QString &ErrorString() const { return FErrorString; }

    // Reads the file again and applies the pending changes on top.
    void Reload();

private:
    class TDocument;
    struct TChange {
        enum TKind { Write, DeleteKey, EraseSection };
        TKind Kind;
        QString Section;
        QString Key;
        QString Value;
    };

    static void Apply(TDocument &document, const TChange &change);
    void Record(TChange change);

    QString FFileName;
    std::unique_ptr<TDocument> FDocument;
    QList<TChange> FPending;
    QString FErrorString;
};
