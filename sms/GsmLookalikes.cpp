#include "sms/GsmLookalikes.h"

#include <algorithm>
#include <iterator>

namespace {

struct Lookalike {
    char16_t character;
    const char16_t *replacement;
};

// Sorted by character for the binary search.
constexpr Lookalike Lookalikes[] = {
    {u'\u0009', u" "},   // character tabulation
    {u'\u0060', u"'"},   // grave accent typed as an apostrophe
    {u'\u00A0', u" "},   // no-break space
    {u'\u00AB', u"\""},  // left-pointing double angle quotation mark
    {u'\u00B4', u"'"},   // acute accent typed as an apostrophe
    {u'\u00BB', u"\""},  // right-pointing double angle quotation mark
    {u'\u2000', u" "},   // en quad
    {u'\u2001', u" "},   // em quad
    {u'\u2002', u" "},   // en space
    {u'\u2003', u" "},   // em space
    {u'\u2004', u" "},   // three-per-em space
    {u'\u2005', u" "},   // four-per-em space
    {u'\u2006', u" "},   // six-per-em space
    {u'\u2007', u" "},   // figure space
    {u'\u2008', u" "},   // punctuation space
    {u'\u2009', u" "},   // thin space
    {u'\u200A', u" "},   // hair space
    {u'\u2010', u"-"},   // hyphen
    {u'\u2011', u"-"},   // non-breaking hyphen
    {u'\u2012', u"-"},   // figure dash
    {u'\u2013', u"-"},   // en dash
    {u'\u2014', u"-"},   // em dash
    {u'\u2015', u"-"},   // horizontal bar
    {u'\u2018', u"'"},   // left single quotation mark
    {u'\u2019', u"'"},   // right single quotation mark
    {u'\u201A', u"'"},   // single low-9 quotation mark
    {u'\u201B', u"'"},   // single high-reversed-9 quotation mark
    {u'\u201C', u"\""},  // left double quotation mark
    {u'\u201D', u"\""},  // right double quotation mark
    {u'\u201E', u"\""},  // double low-9 quotation mark
    {u'\u201F', u"\""},  // double high-reversed-9 quotation mark
    {u'\u2022', u"-"},   // bullet
    {u'\u2023', u"-"},   // triangular bullet
    {u'\u2026', u"..."}, // horizontal ellipsis
    {u'\u202F', u" "},   // narrow no-break space
    {u'\u2032', u"'"},   // prime
    {u'\u2033', u"\""},  // double prime
    {u'\u2043', u"-"},   // hyphen bullet
    {u'\u205F', u" "},   // medium mathematical space
    {u'\u2212', u"-"},   // minus sign
    {u'\u2219', u"-"},   // bullet operator
    {u'\u25CF', u"-"},   // black circle used as a bullet
    {u'\u3000', u" "},   // ideographic space
};

constexpr bool sorted() {
    for (std::size_t i = 1; i < std::size(Lookalikes); ++i) {
        if (Lookalikes[i - 1].character >= Lookalikes[i].character)
            return false;
    }
    return true;
}
static_assert(sorted(), "the look-alike table must be sorted for the binary search");

} // namespace

QStringView gsmLookalike(char32_t ch) {
    if (ch > 0xFFFF)
        return {};
    const auto *end = std::end(Lookalikes);
    const auto *hit = std::lower_bound(
        std::begin(Lookalikes), end, static_cast<char16_t>(ch),
        [](const Lookalike &entry, char16_t value) { return entry.character < value; });
    if (hit == end || hit->character != ch)
        return {};
    return QStringView(hit->replacement);
}

QString replaceGsmLookalikes(QStringView text, int *replaced) {
    QString result;
    result.reserve(text.size());
    int count = 0;
    for (QChar ch : text) {
        const QStringView replacement = gsmLookalike(ch.unicode());
        if (replacement.isEmpty()) {
            result += ch;
        } else {
            result += replacement;
            ++count;
        }
    }
    if (replaced)
        *replaced = count;
    return result;
}
