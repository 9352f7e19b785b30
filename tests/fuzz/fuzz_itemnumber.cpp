// Number reading on its own: it accepts only blanks, an optional sign, digits
// with an optional decimal fraction, and blanks; what it accepts reads back.

#include "fuzzcheck.h"

#include "serving/chatcommand.h"

#include <QRegularExpression>
#include <QString>

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    constexpr int RowCount = 32767;
    const std::optional<int> item = ChatCommand::itemNumber(text, RowCount);
    if (!item)
        return 0;

    // Never an exponent, a separator, NaN, infinity or another script's digit.
    static const QRegularExpression form(QStringLiteral("^ *[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+) *$"));
    FUZZ_CHECK(form.match(text).hasMatch());
    FUZZ_CHECK(*item >= 0 && *item < RowCount);
    // The value it read, rounded half to even, is the item.
    const double value = text.trimmed().toDouble();
    FUZZ_CHECK(std::nearbyint(value) == double(*item));
    FUZZ_CHECK(value < double(RowCount));
    // The item's own number reads back as itself.
    FUZZ_CHECK(ChatCommand::itemNumber(QStringLiteral(" ") + QString::number(*item), RowCount) == item);
    return 0;
}
