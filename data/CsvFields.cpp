#include "data/CsvFields.h"

#include "base/Error.h"

namespace {

enum class ScanState { FieldStart, Unquoted, Quoted, AfterQuote, Bad };

[[noreturn]] void badLine() {
    throw Error(csvErrorText());
}

} // namespace

QString csvErrorText() {
    return QStringLiteral("String is a badly formed CSV string: mismatched quotes, no comma after "
                          "closing quote [%1.%2])")
        .arg(QStringLiteral("MirvParser"), QStringLiteral("ExtractFields"));
}

void extractFields(const QByteArray &line, QList<QByteArray> &fields) {
    fields.clear();
    QByteArray field;
    ScanState state = ScanState::FieldStart;
    for (char c : line) {
        switch (state) {
        case ScanState::FieldStart:
            if (c == '"') {
                state = ScanState::Quoted;
            } else if (c == ',') {
                fields.append(QByteArray());
            } else {
                field = QByteArray(1, c);
                state = ScanState::Unquoted;
            }
            break;
        case ScanState::Unquoted:
            if (c == ',') {
                fields.append(field);
                field.clear();
                state = ScanState::FieldStart;
            } else {
                field.append(c);
            }
            break;
        case ScanState::Quoted:
            if (c == '"')
                state = ScanState::AfterQuote;
            else
                field.append(c);
            break;
        case ScanState::AfterQuote:
            if (c == ',') {
                fields.append(field);
                field.clear();
                state = ScanState::FieldStart;
            } else {
                state = ScanState::Bad;
            }
            break;
        case ScanState::Bad:
            badLine();
        }
    }
    if (state == ScanState::Quoted || state == ScanState::Bad)
        badLine();
    if (!field.isEmpty())
        fields.append(field);
}
