#include "app/ComposeAnalysis.h"

#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

namespace {

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

// A text within one SMS is one part whatever its characters, so only a longer one is built
// and handed to the encoder's part rule.
bool fitsOneSms(const Cost &cost) {
    return cost.gsm ? cost.septets <= codingLimit(Coding::Gsm7Bit)
                    : cost.units <= codingLimit(Coding::Ucs2);
}

TextSize sizeOf(const Cost &cost) {
    TextSize size;
    size.ucs2 = !cost.gsm;
    size.units = size.ucs2 ? cost.units : cost.septets;
    return size;
}

// The parts of a text that does not fit one SMS, as the encoder cuts them.
void measureParts(QStringView text, TextSize &size) {
    const Coding coding = size.ucs2 ? Coding::Ucs2 : Coding::Gsm7Bit;
    size.parts = static_cast<int>(partEnds(text, coding).size());
    // A text within a long message's units and parts is kept whole; only one beyond them
    // needs the walk that finds where the encoder cuts it.
    if (size.units > LongMessageLimit || size.parts > maxParts(coding))
        size.overLongLimit = fitLongLength(text, coding) < text.size();
}

} // namespace

TextSize measureText(const QString &text) {
    const Cost cost = costOf(text);
    TextSize size = sizeOf(cost);
    if (!fitsOneSms(cost))
        measureParts(text, size);
    return size;
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

    result.parts.fill(0, recipients.size());
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
        TextSize size = sizeOf(total);
        // Where a text is cut into parts depends on its characters, not only on its count.
        if (!fitsOneSms(total))
            measureParts(text.fill(recipient.name, recipient.parsed.number), size);
        const int index = static_cast<int>(i);
        result.parts[i] = size.parts;
        if (size.parts > 1)
            result.overOneSms.append(index);
        if (size.overLongLimit)
            result.overLongLimit.append(index);
        if (fixed.gsm && !ownValuesGsm)
            result.ucs2Recipients.append(index);
        if (size.parts > result.longestSize.parts ||
            (size.parts == result.longestSize.parts && size.units > longestUnits) ||
            result.longest < 0) {
            result.longest = index;
            result.longestSize = size;
            longestUnits = size.units;
        }
        if (result.fewestParts == 0 || size.parts < result.fewestParts)
            result.fewestParts = size.parts;
    }
    if (result.longest >= 0) {
        const Recipient &longest = recipients[result.longest];
        result.longestText = text.fill(longest.name, longest.parsed.number);
        for (qsizetype i = 0; i < result.parts.size(); ++i) {
            if (result.parts[i] > result.fewestParts)
                result.moreParts.append(static_cast<int>(i));
        }
    }
    return result;
}
