#include "catalogue/cataloguesearch.h"

#include "platform/rowlist.h"

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

bool isMark(QChar::Category category)
{
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// Where a query splits into words: blanks of any script and control characters.
bool splitsWords(char32_t c)
{
    return QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control;
}

// The bit of a letter (second = 0), or of a pair of letters, in an item's signature.
int bitOf(uint first, uint second)
{
    return int((first * 0x9E3779B1u ^ second * 0x85EBCA77u) >> 24);
}

} // namespace

QByteArray CatalogueSearch::folded(QStringView text)
{
    // Most catalogues are plain ASCII: lower case is all their folding.
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; })) {
        QByteArray ascii(text.size(), Qt::Uninitialized);
        for (qsizetype at = 0; at < text.size(); ++at) {
            const char c = char(text[at].unicode());
            ascii[at] = c < 0x20 || c == 0x7f ? ' ' : (c >= 'A' && c <= 'Z' ? char(c + 32) : c);
        }
        return ascii;
    }
    // Compatibility decomposition first, so ligatures and full-width letters
    // become plain ones; case folding next, where Qt folds one letter to one,
    // so the letters that fold to two ("ß", "ẞ") are folded here; then a second
    // decomposition for what folding made, and every combining mark dropped.
    QString plain = text.toString().normalized(QString::NormalizationForm_KD).toCaseFolded();
    plain.replace(QChar(0x00DF), u"ss"_s);
    plain = plain.normalized(QString::NormalizationForm_KD);
    QList<uint> kept = QStringView(plain).toUcs4();
    kept.removeIf([](uint c) { return isMark(QChar::category(char32_t(c))); });
    for (uint &c : kept) {
        // The block's own separators never occur inside a field.
        if (QChar::category(char32_t(c)) == QChar::Other_Control)
            c = ' ';
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(kept.constData()), kept.size()).toUtf8();
}

QStringList CatalogueSearch::typedWords(QStringView query)
{
    QStringList words;
    const QList<uint> letters = query.toUcs4();
    qsizetype at = 0;
    while (at < letters.size() && words.size() < WordsAtMost) {
        while (at < letters.size() && splitsWords(letters[at]))
            ++at;
        const qsizetype start = at;
        while (at < letters.size() && !splitsWords(letters[at]))
            ++at;
        if (at == start)
            break;
        const qsizetype length = std::min<qsizetype>(at - start, WordLengthAtMost);
        words.append(QString::fromUcs4(reinterpret_cast<const char32_t *>(&letters[start]), length));
    }
    return words;
}

QList<QByteArray> CatalogueSearch::wordsOf(QStringView query)
{
    QList<QByteArray> words;
    for (const QString &typed : typedWords(query)) {
        const QByteArray word = folded(typed);
        if (!word.trimmed().isEmpty())
            words.append(word);
    }
    return words;
}

CatalogueSearch::CatalogueSearch(const RowList &descriptions, const RowList &addresses)
{
    const int items = descriptions.ListCount();
    m_ends.reserve(items);
    for (int item = 0; item < items; ++item) {
        m_text += folded(descriptions.List(item));
        m_text += '\n';
        if (item < addresses.ListCount())
            m_text += folded(addresses.List(item));
        m_text += '\0';
        m_ends.append(m_text.size() - 1);
    }
    m_text.squeeze();
    m_signatures.reserve(items);
    for (int item = 0; item < items; ++item) {
        const qsizetype start = item == 0 ? 0 : m_ends[item - 1] + 1;
        m_signatures.append(signatureOf(m_text.constData() + start, m_ends[item] - start));
    }
}

CatalogueSearch::Signature CatalogueSearch::signatureOf(const char *text, qsizetype length)
{
    Signature signature{};
    const auto set = [&](int bit) { signature[size_t(bit / 64)] |= quint64(1) << (bit % 64); };
    for (qsizetype at = 0; at < length; ++at) {
        set(bitOf(uchar(text[at]), 0));
        if (at + 1 < length)
            set(bitOf(uchar(text[at]), uchar(text[at + 1]) | 0x100u));
    }
    return signature;
}

CatalogueSearch::Found CatalogueSearch::find(const QList<QByteArray> &words, int keep) const
{
    Found found;
    if (words.isEmpty())
        return found;
    // Only the items whose signature holds every letter and pair of letters of
    // every word are read: for words of two letters or more, a few in a
    // hundred besides those that match.
    Signature wanted{};
    for (const QByteArray &word : words) {
        const Signature of = signatureOf(word.constData(), word.size());
        for (size_t part = 0; part < wanted.size(); ++part)
            wanted[part] |= of[part];
    }
    const char *const text = m_text.constData();
    for (int item = 0; item < m_signatures.size(); ++item) {
        const Signature &has = m_signatures[item];
        if ((has[0] & wanted[0]) != wanted[0] || (has[1] & wanted[1]) != wanted[1] ||
            (has[2] & wanted[2]) != wanted[2] || (has[3] & wanted[3]) != wanted[3])
            continue;
        const char *const start = item == 0 ? text : text + m_ends[item - 1] + 1;
        const char *const end = text + m_ends[item];
        const bool all = std::all_of(words.cbegin(), words.cend(), [&](const QByteArray &word) {
            return std::search(start, end, word.cbegin(), word.cend()) != end;
        });
        if (all) {
            if (found.items.size() < keep)
                found.items.append(item);
            ++found.total;
        }
    }
    return found;
}

qint64 CatalogueSearch::bytes() const
{
    return m_text.capacity() + m_ends.capacity() * qint64(sizeof(qsizetype)) +
           m_signatures.capacity() * qint64(sizeof(Signature));
}
