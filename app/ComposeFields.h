#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

class StreamReader;
class StreamWriter;

// The four fields of the compose view as the project file stores them: To and Cc as ansi
// fields, Subject and Body as wide fields, in that order.
struct ComposeFields {
    QByteArray to;
    QByteArray cc;
    QString subject;
    QString body;

    bool operator==(const ComposeFields &other) const = default;

    void saveToStream(StreamWriter &writer) const;
    // Reads nothing unless version is 10. The fields change only when all four were read.
    void loadFromStream(StreamReader &reader, int version);
};
