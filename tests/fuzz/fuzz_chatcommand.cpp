// A chat line (any bytes, as UTF-8) from a room whose program has any screen
// name: the command decision holds to the rules whatever the line.

#include "fuzzcheck.h"

#include "serving/chatcommand.h"

#include <QString>

#include <cstdint>

namespace {

bool isAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // First byte: the catalogue's size; then the screen name up to a newline; then the line.
    if (size < 1)
        return 0;
    const int rowCount = data[0] * 129; // 0 to 32895
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype newline = rest.indexOf('\n');
    const QString screenName = QString::fromUtf8(newline < 0 ? QByteArray("Link Desk") : rest.left(newline));
    const QString line = QString::fromUtf8(newline < 0 ? rest : rest.mid(newline + 1));

    CommandForms forms;
    const std::optional<ChatCommand> command = forms.parse(line, screenName);
    QString compact = screenName;
    compact.remove(u' ');
    if (!command)
        return 0;

    if (command->kind == ChatCommand::Kind::List) {
        // Exactly one of the two forms, whole, letter case aside.
        const QString full = u'/' + screenName + QStringLiteral(" send list");
        const QString shortForm = u'/' + compact + QStringLiteral(" send list");
        FUZZ_CHECK(line.compare(full, Qt::CaseInsensitive) == 0 || line.compare(shortForm, Qt::CaseInsensitive) == 0);
    } else {
        // Addressed to the program, and the number read after the first " send ".
        FUZZ_CHECK(line.contains(u'/' + screenName + QStringLiteral(" send "), Qt::CaseInsensitive) ||
                   line.contains(u'/' + compact + QStringLiteral(" send "), Qt::CaseInsensitive));
        const qsizetype send = line.indexOf(QStringLiteral(" send "), 0, Qt::CaseInsensitive);
        FUZZ_CHECK(send >= 0 && command->numberText == line.mid(send + 5));
        const std::optional<int> item = ChatCommand::itemNumber(command->numberText, rowCount);
        if (item)
            FUZZ_CHECK(*item >= 0 && *item < rowCount);
    }

    // Letter case does not count: an ASCII line and its lower-case twin decide alike.
    if (isAscii(line) && isAscii(screenName)) {
        CommandForms twinForms;
        const std::optional<ChatCommand> twin = twinForms.parse(line.toLower(), screenName);
        FUZZ_CHECK(twin && twin->kind == command->kind);
        if (command->kind == ChatCommand::Kind::Item) {
            FUZZ_CHECK(ChatCommand::itemNumber(twin->numberText, rowCount) ==
                       ChatCommand::itemNumber(command->numberText, rowCount));
        }
    }
    return 0;
}
