#pragma once

#include "linkcheck/linkchecker.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// What the last check found of the catalogue's links, kept in the data folder
// beside the catalogue (links-checked.json) so that a restart neither forgets
// which links are dead nor since when. Links are known by their address, so
// an item that moves keeps its record. Only the links that did not answer are
// kept one by one; the ones that did are counted.
class LinkHealth final
{
public:
    struct Problem
    {
        LinkChecker::Verdict verdict = LinkChecker::Verdict::Dead;
        QString found;
        // The first check that found the link so; the checks after it agreed.
        QDateTime since;
    };

    [[nodiscard]] static QString fileName();

    // Reads the file of the folder; none yet is no check yet. A file that
    // cannot be read leaves no check, and why.
    [[nodiscard]] static LinkHealth load(const QString &folder, QString *problem);
    // Replaces the file whole and durably; what went wrong otherwise.
    [[nodiscard]] QString save(const QString &folder) const;

    // A check's results, finished at `at`: a link found as it was before
    // keeps its "since"; links not in the results are forgotten.
    void record(const QList<LinkChecker::Result> &results, const QDateTime &at);

    [[nodiscard]] bool isChecked() const { return m_finished.isValid(); }
    [[nodiscard]] const QDateTime &finished() const { return m_finished; }
    // Links asked (the skipped ones are not), and how many of them were found so.
    [[nodiscard]] int checked() const { return m_checked; }
    [[nodiscard]] int count(LinkChecker::Verdict verdict) const;
    // The record of an address that did not answer; nullptr for one that did
    // or was not checked.
    [[nodiscard]] const Problem *problemOf(const QString &address) const;

private:
    QDateTime m_finished;
    int m_checked = 0;
    int m_skipped = 0;
    QHash<QString, Problem> m_problems;
};
