#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class RowList;

// Finds items by words, the same way in the chat room and on the web page: an
// item matches when every word occurs in its description or its address.
// Letter case does not count (Unicode case folding), nor do accents (the text
// is decomposed and its combining marks dropped), so "cafe" finds "Café" and
// "STRASSE" finds "Straße". A word is plain text, never a pattern.
//
// The folded text of the whole catalogue is made once, when the search is
// made, with a signature of each item's letters; a search compares the
// signatures and reads only the items that may match. A search never changes once made: threads share it freely.
class CatalogueSearch final
{
public:
    // A query keeps its first 8 words, each cut to 64 characters: a search
    // costs at most 8 scans, whatever a member types.
    static constexpr int WordsAtMost = 8;
    static constexpr int WordLengthAtMost = 64;

    CatalogueSearch() = default;
    CatalogueSearch(const RowList &descriptions, const RowList &addresses);

    // The words of a query as typed: split at blanks and control characters,
    // the first WordsAtMost, each cut to WordLengthAtMost letters.
    [[nodiscard]] static QStringList typedWords(QStringView query);
    // The same words, folded, as find() takes them.
    [[nodiscard]] static QList<QByteArray> wordsOf(QStringView query);
    // Text in the form the search compares, as UTF-8.
    [[nodiscard]] static QByteArray folded(QStringView text);

    struct Found
    {
        // The first items that match (as many as asked for), in catalogue order.
        QList<int> items;
        // How many match in all.
        int total = 0;
    };
    // With no words, nothing matches.
    [[nodiscard]] Found find(const QList<QByteArray> &words, int keep) const;

    [[nodiscard]] int itemCount() const { return int(m_ends.size()); }
    // The memory the folded copy takes.
    [[nodiscard]] qint64 bytes() const;

private:
    // Every item's folded description, a line break and its folded address,
    // then a NUL: no word holds either, so no match runs across two fields.
    QByteArray m_text;
    QList<qsizetype> m_ends; // where each item's text ends (its NUL)
    // Each item's letters and pairs of letters, hashed to 256 bits: a search
    // reads only the items whose bits hold all of its words'.
    using Signature = std::array<quint64, 4>;
    QList<Signature> m_signatures;

    [[nodiscard]] static Signature signatureOf(const char *text, qsizetype length);
};
