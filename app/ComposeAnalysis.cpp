#include "app/ComposeAnalysis.h"

#include "sms/SmsSubmit.h"

namespace {

constexpr int GsmSingleLimit = 160;
constexpr int GsmPartLimit = 153;
constexpr int Ucs2SingleLimit = 70;
constexpr int Ucs2PartLimit = 67;

using Kind = MessageTemplate::Segment::Kind;

// What a piece of text adds: whether it stays GSM, its septets and its UTF-16 code units.
struct Cost {
    bool gsm = true;
    int septets = 0;
    int units = 0;

    void add(const Cost &other) {
        gsm = gsm && other.gsm;
        septets += other.septets;
        units += other.units;
    }
};

Cost costOf(const QString &text) {
    Cost cost;
    cost.units = static_cast<int>(text.size());
    for (QChar ch : text) {
        const GsmLookup found = lookupGsmChar(ch);
        if (!found.found)
            cost.gsm = false;
        cost.septets += found.escaped ? 2 : 1;
    }
    return cost;
}

int partsOf(const QString &text, bool ucs2, int units) {
    if (units <= (ucs2 ? Ucs2SingleLimit : GsmSingleLimit))
        return 1;
    const int limit = ucs2 ? Ucs2PartLimit : GsmPartLimit;
    int parts = 1;
    int used = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        int cost = 1;
        if (ucs2) {
            if (text[i].isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate())
                cost = 2;
        } else if (lookupGsmChar(text[i]).escaped) {
            cost = 2;
        }
        if (used + cost > limit) {
            ++parts;
            used = 0;
        }
        used += cost;
        i += ucs2 ? cost : 1;
    }
    return parts;
}

TextSize sizeOf(const QString &text, const Cost &cost) {
    TextSize size;
    size.ucs2 = !cost.gsm;
    size.units = size.ucs2 ? cost.units : cost.septets;
    size.parts = partsOf(text, size.ucs2, size.units);
    return size;
}

} // namespace

TextSize measureText(const QString &text) {
    return sizeOf(text, costOf(text));
}

ComposeAnalysis analyseCompose(const QString &subject, const QString &body,
                               const QList<Recipient> &recipients) {
    ComposeAnalysis result;
    const MessageTemplate text = composeTemplate(subject, body);
    result.unknownPlaceholders = text.unknownPlaceholders();

    // The fixed text's cost once; per recipient only the placeholders' values are measured.
    Cost fixed;
    struct Hole {
        Kind kind;
        Cost fallback;
    };
    QList<Hole> holes;
    bool usesName = false;
    bool usesFirstName = false;
    bool usesNumber = false;
    for (const MessageTemplate::Segment &segment : text.segments()) {
        if (segment.kind == Kind::Text) {
            fixed.add(costOf(segment.text));
            continue;
        }
        holes.append({segment.kind, costOf(segment.text)});
        usesName = usesName || segment.kind == Kind::Name;
        usesFirstName = usesFirstName || segment.kind == Kind::FirstName;
        usesNumber = usesNumber || segment.kind == Kind::Number;
    }
    result.textNeedsUcs2 = !fixed.gsm;

    QList<int> parts(recipients.size(), 0);
    int longestUnits = -1;
    for (qsizetype i = 0; i < recipients.size(); ++i) {
        const Recipient &recipient = recipients[i];
        if (!recipient.parsed.isUsable())
            continue;
        ++result.recipientCount;
        Cost name, firstName, number;
        if (usesName)
            name = costOf(MessageTemplate::value(Kind::Name, recipient.name, {}));
        if (usesFirstName)
            firstName = costOf(MessageTemplate::firstName(recipient.name));
        if (usesNumber)
            number.septets = number.units = static_cast<int>(recipient.parsed.number.size());

        Cost total = fixed;
        bool ownValuesGsm = true;
        for (const Hole &hole : holes) {
            const Cost &value = hole.kind == Kind::Name        ? name
                                : hole.kind == Kind::FirstName ? firstName
                                                               : number;
            if (value.units == 0) {
                total.add(hole.fallback);
            } else {
                total.add(value);
                ownValuesGsm = ownValuesGsm && value.gsm;
            }
        }
        TextSize size;
        size.ucs2 = !total.gsm;
        size.units = size.ucs2 ? total.units : total.septets;
        // Where a text is cut into parts depends on its characters, not only on its count.
        size.parts = size.units <= (size.ucs2 ? Ucs2SingleLimit : GsmSingleLimit)
                         ? 1
                         : partsOf(text.fill(recipient.name, recipient.parsed.number), size.ucs2,
                                   size.units);
        parts[i] = size.parts;
        if (fixed.gsm && !ownValuesGsm)
            result.ucs2Recipients.append(static_cast<int>(i));
        if (size.parts > result.longestSize.parts ||
            (size.parts == result.longestSize.parts && size.units > longestUnits) ||
            result.longest < 0) {
            result.longest = static_cast<int>(i);
            result.longestSize = size;
            longestUnits = size.units;
        }
        if (result.fewestParts == 0 || size.parts < result.fewestParts)
            result.fewestParts = size.parts;
    }
    if (result.longest >= 0) {
        const Recipient &longest = recipients[result.longest];
        result.longestText = text.fill(longest.name, longest.parsed.number);
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (parts[i] > result.fewestParts)
                result.moreParts.append(static_cast<int>(i));
        }
    }
    return result;
}
