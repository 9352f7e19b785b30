#include "server/backgroundlinkcheck.h"
#include "server/serverlog.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A timer waits a day at most: a longer interval is reached in steps.
constexpr qint64 LongestWaitMs = 24LL * 3600 * 1000;

} // namespace

BackgroundLinkCheck::BackgroundLinkCheck(QString folder, const RowList &addresses, QObject *parent)
    : QObject(parent), m_folder(std::move(folder)), m_addresses(addresses), m_due(new QTimer(this))
{
    m_due->setSingleShot(true);
    connect(m_due, &QTimer::timeout, this, &BackgroundLinkCheck::planNext);
    QString problem;
    m_health = LinkHealth::load(m_folder, &problem);
    if (!problem.isEmpty())
        qCWarning(lcServer).noquote() << problem;
}

BackgroundLinkCheck::~BackgroundLinkCheck() = default;

void BackgroundLinkCheck::setSettings(const NetworkConfig::LinkCheck &settings)
{
    const bool changed = settings.everyMs != m_settings.everyMs || settings.checkPrivate != m_settings.checkPrivate;
    m_settings = settings;
    if (!changed)
        return;
    if (!settings.isOn()) {
        stop();
        return;
    }
    // A check under way goes on with what it was given; the next one takes the new settings.
    if (!m_checking)
        planNext();
}

void BackgroundLinkCheck::stop()
{
    m_due->stop();
    if (m_checker)
        m_checker->cancel();
    m_checking = false;
}

void BackgroundLinkCheck::planNext()
{
    if (!m_settings.isOn() || m_checking)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 waitMs =
        m_health.isChecked() ? now.msecsTo(m_health.finished().addMSecs(m_settings.everyMs)) : qint64(0);
    if (waitMs <= 0) {
        startCheck();
        return;
    }
    m_due->start(int(std::min(waitMs, LongestWaitMs)));
}

void BackgroundLinkCheck::startCheck()
{
    LinkChecker::Limits limits;
    limits.checkPrivate = m_settings.checkPrivate;
    m_checker = std::make_unique<LinkChecker>(limits);
    connect(m_checker.get(), &LinkChecker::finished, this, &BackgroundLinkCheck::finished);
    m_checking = true;
    const QList<LinkChecker::Link> links = LinkChecker::linksOf(m_addresses);
    qCInfo(lcServer).noquote() << u"Checking the catalogue's links (%1 items)"_s.arg(links.size());
    Q_EMIT changed();
    m_checker->check(links);
}

void BackgroundLinkCheck::finished(const QList<LinkChecker::Result> &results)
{
    m_checking = false;
    m_health.record(results, QDateTime::currentDateTimeUtc());
    using Verdict = LinkChecker::Verdict;
    qCInfo(lcServer).noquote()
        << u"Link check: %1 links checked, %2 dead, %3 doubtful, %4 skipped (private addresses); the admin page "
           u"and --check-links name them"_s.arg(m_health.checked())
               .arg(m_health.count(Verdict::Dead))
               .arg(m_health.count(Verdict::Doubtful))
               .arg(m_health.count(Verdict::Skipped));
    if (const QString problem = m_health.save(m_folder); !problem.isEmpty())
        qCWarning(lcServer).noquote() << u"%1. The link check's results are kept in memory only, until the next "
                                         u"check."_s.arg(problem);
    Q_EMIT changed();
    // The checker is done with: it goes once this signal is through.
    m_checker.release()->deleteLater();
    planNext();
}
