#include "data/MirvParser.h"

#include "app/Errors.h"

namespace {

enum TScanState { ssFieldStart, ssUnquoted, ssQuoted, ssAfterQuote, ssBad };

[[noreturn]] void BadLine() {
    throw EPelorvane(QStringLiteral("String is a badly formed CSV string: mismatched quotes, no "
                                    "comma after closing quote [%1.%2])")
                         .arg(QStringLiteral("MirvParser"), QStringLiteral("ExtractFields")));
}

} // namespace

void ExtractFields(const QByteArray &line, QList<QByteArray> &fields) {
    fields.clear();
    QByteArray field;
    TScanState state = ssFieldStart;
    for (char c : line) {
        switch (state) {
        case ssFieldStart:
            if (c == '"') {
                state = ssQuoted;
            } else if (c == ',') {
                fields.append(QByteArray());
            } else {
                field = QByteArray(1, c);
                state = ssUnquoted;
            }
            break;
        case ssUnquoted:
            if (c == ',') {
                fields.append(field);
                field.clear();
                state = ssFieldStart;
            } else {
                field.append(c);
            }
            break;
        case ssQuoted:
            if (c == '"')
                state = ssAfterQuote;
            else
                field.append(c);
            break;
        case ssAfterQuote:
            if (c == ',') {
                fields.append(field);
                field.clear();
                state = ssFieldStart;
            } else {
                state = ssBad;
            }
            break;
        case ssBad:
            BadLine();
        }
    }
    if (state == ssQuoted || state == ssBad)
        BadLine();
    if (!field.isEmpty())
        fields.append(field);
}
