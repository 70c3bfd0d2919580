#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

class TStreamReader;
class TStreamWriter;

// The four fields of the compose view as the project file stores them: To and Cc as ansi
// fields, Subject and Body as wide fields, in that order.
struct TComposeFields {
    QByteArray To;
    QByteArray Cc;
    QString Subject;
    QString Body;

    bool operator==(const TComposeFields &other) const = default;

    void SaveToStream(TStreamWriter &writer) const;
    // Reads nothing unless version is 10. The fields change only when all four were read.
    void LoadFromStream(TStreamReader &reader, int version);
};
