#include "linkcheck/linkhealth.h"

#include "platform/durablefile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Far more than the records of 32,767 dead links take.
constexpr qint64 LargestFileBytes = 64 * 1024 * 1024;

QString nameOf(LinkChecker::Verdict verdict)
{
    switch (verdict) {
    case LinkChecker::Verdict::Alive:
        return u"alive"_s;
    case LinkChecker::Verdict::Dead:
        return u"dead"_s;
    case LinkChecker::Verdict::Doubtful:
        return u"doubtful"_s;
    case LinkChecker::Verdict::Skipped:
        return u"skipped"_s;
    }
    return {};
}

} // namespace

QString LinkHealth::fileName()
{
    return u"links-checked.json"_s;
}

LinkHealth LinkHealth::load(const QString &folder, QString *problem)
{
    LinkHealth health;
    QFile file(QDir(folder).filePath(fileName()));
    if (!file.exists())
        return health;
    const auto unreadable = [&](const QString &why) {
        *problem = u"%1 could not be read (%2): the links count as not checked until the next check."_s.arg(
            QDir::toNativeSeparators(file.fileName()), why);
        return LinkHealth();
    };
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
    if (file.size() > LargestFileBytes)
        return unreadable(u"it is larger than %1 MiB"_s.arg(LargestFileBytes / 1024 / 1024));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.read(LargestFileBytes), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return unreadable(error.error != QJsonParseError::NoError ? error.errorString() : u"not an object"_s);
    const QJsonObject top = document.object();
    health.m_finished = QDateTime::fromString(top.value(u"finished"_s).toString(), Qt::ISODate);
    if (!health.m_finished.isValid())
        return unreadable(u"no time of the last check"_s);
    health.m_checked = std::max(0, top.value(u"checked"_s).toInt());
    health.m_skipped = std::max(0, top.value(u"skipped"_s).toInt());
    for (const QJsonValue &value : top.value(u"problems"_s).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString verdict = entry.value(u"verdict"_s).toString();
        Problem problem;
        if (verdict == u"dead")
            problem.verdict = LinkChecker::Verdict::Dead;
        else if (verdict == u"doubtful")
            problem.verdict = LinkChecker::Verdict::Doubtful;
        else
            continue;
        problem.found = entry.value(u"found"_s).toString();
        problem.since = QDateTime::fromString(entry.value(u"since"_s).toString(), Qt::ISODate);
        if (!problem.since.isValid())
            problem.since = health.m_finished;
        health.m_problems.insert(entry.value(u"address"_s).toString(), problem);
    }
    return health;
}

QString LinkHealth::save(const QString &folder) const
{
    QJsonArray problems;
    // In a steady order, so the file changes only where the links did.
    QStringList addresses = m_problems.keys();
    std::sort(addresses.begin(), addresses.end());
    for (const QString &address : std::as_const(addresses)) {
        const Problem &problem = m_problems[address];
        problems.append(QJsonObject{{u"address"_s, address},
                                    {u"verdict"_s, nameOf(problem.verdict)},
                                    {u"found"_s, problem.found},
                                    {u"since"_s, problem.since.toUTC().toString(Qt::ISODate)}});
    }
    const QJsonObject top{{u"finished"_s, m_finished.toUTC().toString(Qt::ISODate)},
                          {u"checked"_s, m_checked},
                          {u"skipped"_s, m_skipped},
                          {u"problems"_s, problems}};
    const QString path = QDir(folder).filePath(fileName());
    const durablefile::Target target = durablefile::targetOf(path);
    if (!target.error.isEmpty())
        return durablefile::writeFailure(path, target.error);
    durablefile::NewFile file(target.value, path);
    file.write(QJsonDocument(top).toJson(QJsonDocument::Indented));
    FileResult written = file.finish();
    if (written.ok())
        written = durablefile::moveIntoPlace(file.path(), target.value, path);
    return written.error;
}

void LinkHealth::record(const QList<LinkChecker::Result> &results, const QDateTime &at)
{
    QHash<QString, Problem> problems;
    m_checked = 0;
    m_skipped = 0;
    for (const LinkChecker::Result &result : results) {
        if (result.verdict == LinkChecker::Verdict::Skipped) {
            ++m_skipped;
            continue;
        }
        ++m_checked;
        if (result.verdict == LinkChecker::Verdict::Alive)
            continue;
        const auto before = m_problems.constFind(result.address);
        const bool same = before != m_problems.cend() && before->verdict == result.verdict;
        problems.insert(result.address, {result.verdict, result.found, same ? before->since : at});
    }
    m_problems = std::move(problems);
    m_finished = at;
}

int LinkHealth::count(LinkChecker::Verdict verdict) const
{
    switch (verdict) {
    case LinkChecker::Verdict::Alive:
        return m_checked - int(m_problems.size());
    case LinkChecker::Verdict::Skipped:
        return m_skipped;
    default:
        return int(std::count_if(m_problems.cbegin(), m_problems.cend(),
                                 [verdict](const Problem &problem) { return problem.verdict == verdict; }));
    }
}

const LinkHealth::Problem *LinkHealth::problemOf(const QString &address) const
{
    const auto found = m_problems.constFind(address);
    return found == m_problems.cend() ? nullptr : &*found;
}
