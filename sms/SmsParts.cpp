#include "sms/SmsParts.h"

#include "sms/GsmLookalikes.h"

#include <algorithm>

namespace {

// Septets one code unit costs in GSM 7 bit; 0 for one outside the alphabet, which the encoder
// leaves out.
int gsmCost(QChar ch) {
    const GsmLookup hit = lookupGsmChar(ch);
    return !hit.found ? 0 : hit.escaped ? 2 : 1;
}

bool pairAt(QStringView text, qsizetype i) {
    return i + 1 < text.size() && text[i].isHighSurrogate() && text[i + 1].isLowSurrogate();
}

// The smallest piece of text a part boundary may not cut: its units and its code units.
struct Item {
    int units;
    int length;
};

Item itemAt(QStringView text, qsizetype i, Coding coding) {
    switch (coding) {
    case Coding::Gsm7Bit:
        return {gsmCost(text[i]), 1};
    case Coding::EightBit:
        return {1, 1};
    case Coding::Ucs2:
        break;
    }
    return pairAt(text, i) ? Item{2, 2} : Item{1, 1};
}

// Fills parts one item after another, each part as full as its capacity allows.
class PartFiller {
public:
    explicit PartFiller(Coding coding) : m_capacity(partCapacity(coding)) {}

    // True when the item starts a new part.
    bool add(int units) {
        if (m_fill + units > m_capacity) {
            ++m_parts;
            m_fill = units;
            return true;
        }
        m_fill += units;
        return false;
    }
    // The second half of a surrogate pair: the pair moves to the next part when its first half
    // took the last place of a part.
    void addSecondHalf() {
        if (m_fill == m_capacity) {
            ++m_parts;
            m_fill = 2;
        } else {
            ++m_fill;
        }
    }
    int parts() const { return m_parts; }

private:
    int m_capacity;
    int m_parts = 1;
    int m_fill = 0;
};

// The characters outside the GSM alphabet in order of first appearance: one more than are
// shown, so that whether there are more within a shorter prefix is still known.
class ReasonCollector {
public:
    void add(char32_t ch, qsizetype at) {
        if (m_firstLookalike < 0 && !gsmLookalike(ch).isEmpty())
            m_firstLookalike = at;
        if (m_seen.size() > Ucs2Reasons::MaxShown)
            return;
        for (const Seen &seen : std::as_const(m_seen)) {
            if (seen.character == ch)
                return;
        }
        m_seen.append({ch, at});
    }

    // The reasons within the first length code units.
    Ucs2Reasons within(qsizetype length) const {
        Ucs2Reasons reasons;
        for (const Seen &seen : m_seen) {
            if (seen.at >= length)
                break;
            if (reasons.characters.size() == Ucs2Reasons::MaxShown) {
                reasons.more = true;
                break;
            }
            reasons.characters.append(seen.character);
        }
        reasons.lookalikes = m_firstLookalike >= 0 && m_firstLookalike < length;
        return reasons;
    }

private:
    struct Seen {
        char32_t character;
        qsizetype at;
    };
    QList<Seen> m_seen;
    qsizetype m_firstLookalike = -1;
};

} // namespace

QList<int> partEnds(QStringView text, Coding coding) {
    const auto size = static_cast<int>(text.size());
    int units = 0;
    for (qsizetype i = 0; i < size; ++i)
        units += coding == Coding::Gsm7Bit ? gsmCost(text[i]) : 1;
    if (units <= codingLimit(coding))
        return {size};

    QList<int> ends;
    PartFiller filler(coding);
    for (int i = 0; i < size;) {
        const Item item = itemAt(text, i, coding);
        if (filler.add(item.units))
            ends.append(i);
        i += item.length;
    }
    ends.append(size);
    return ends;
}

int fitLongLength(QStringView text, Coding coding) {
    const auto size = static_cast<int>(text.size());
    const int single = codingLimit(coding);
    int units = 0;
    PartFiller filler(coding);
    for (int i = 0; i < size;) {
        const Item item = itemAt(text, i, coding);
        PartFiller next = filler;
        next.add(item.units);
        const int nextUnits = units + item.units;
        const int parts = nextUnits <= single ? 1 : next.parts();
        if (nextUnits > LongMessageLimit || parts > maxParts(coding))
            return i;
        units = nextUnits;
        filler = next;
        i += item.length;
    }
    return size;
}

int messagePartCount(QStringView text, Coding coding, bool isLong) {
    if (!isLong)
        return 1;
    return static_cast<int>(partEnds(text.left(fitLongLength(text, coding)), coding).size());
}

TextFit fitText(QStringView text, int keep, bool isLong) {
    const qsizetype size = text.size();
    keep = static_cast<int>(std::clamp<qsizetype>(keep, 0, size));
    // A prefix of n code units counts at least n in either coding: past the largest limit
    // nothing fits any more.
    const int longest = isLong ? LongMessageLimit
                               : std::max(codingLimit(Coding::Gsm7Bit), codingLimit(Coding::Ucs2));
    const qsizetype end = std::min<qsizetype>(size, std::max(longest, keep));

    bool allGsm = true;
    int septets = 0;
    // Both codings' parts are counted at once, as partEnds fills them.
    PartFiller gsmParts(Coding::Gsm7Bit);
    PartFiller ucs2Parts(Coding::Ucs2);
    ReasonCollector reasons;
    TextFit best;
    bool found = false;
    TextFit atKeep;

    for (qsizetype n = 0; n <= end; ++n) {
        if (n > 0) {
            const qsizetype i = n - 1;
            const QChar ch = text[i];
            const bool secondHalf = ch.isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate();
            const int cost = gsmCost(ch);
            if (cost > 0) {
                septets += cost;
                gsmParts.add(cost);
            } else {
                allGsm = false;
                // A pair is one character, noted at its first half once the second has come.
                if (secondHalf)
                    reasons.add(QChar::surrogateToUcs4(text[i - 1], ch), i - 1);
                else if (!pairAt(text, i))
                    reasons.add(ch.unicode(), i);
            }
            if (secondHalf)
                ucs2Parts.addSecondHalf();
            else
                ucs2Parts.add(1);
        }
        const Coding coding = allGsm ? Coding::Gsm7Bit : Coding::Ucs2;
        const int units = allGsm ? septets : static_cast<int>(n);
        const int single = codingLimit(coding);
        const int parts = units <= single ? 1 : (allGsm ? gsmParts : ucs2Parts).parts();
        const TextFit here{static_cast<int>(n), coding, units, isLong ? LongMessageLimit : single,
                           isLong ? parts : 1,  {}};
        if (n == keep)
            atKeep = here;
        // A cut between the halves of a pair is no place to end a message.
        if (n > 0 && n < size && pairAt(text, n - 1))
            continue;
        const bool fits =
            isLong ? units <= LongMessageLimit && parts <= maxParts(coding) : units <= single;
        if (fits && n >= keep) {
            best = here;
            found = true;
        }
    }
    if (!found) {
        best = atKeep;
        // What the encoder will send of a text that is too long.
        if (isLong)
            best.parts = messagePartCount(text.left(keep), best.coding, true);
    }
    if (best.coding == Coding::Ucs2)
        best.reasons = reasons.within(best.length);
    return best;
}
