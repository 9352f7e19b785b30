#pragma once

#include <QLoggingCategory>
#include <QStringList>

// Every line the program logs in a category while this lives, with the
// category turned on (the suites' environment turns the program's logging
// off); the category and the message handler are as they were afterwards.
class CapturedLog final
{
public:
    explicit CapturedLog(const QLoggingCategory &category)
        : m_category(const_cast<QLoggingCategory &>(category)), m_infoWasOn(m_category.isInfoEnabled()),
          m_warningsWereOn(m_category.isWarningEnabled())
    {
        lines().clear();
        m_category.setEnabled(QtInfoMsg, true);
        m_category.setEnabled(QtWarningMsg, true);
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { lines().append(text); });
    }
    ~CapturedLog()
    {
        qInstallMessageHandler(m_previous);
        m_category.setEnabled(QtInfoMsg, m_infoWasOn);
        m_category.setEnabled(QtWarningMsg, m_warningsWereOn);
    }
    CapturedLog(const CapturedLog &) = delete;
    CapturedLog &operator=(const CapturedLog &) = delete;

    // What was logged so far (one capture at a time).
    static QStringList &lines()
    {
        static QStringList logged;
        return logged;
    }

private:
    QLoggingCategory &m_category;
    const bool m_infoWasOn;
    const bool m_warningsWereOn;
    QtMessageHandler m_previous = nullptr;
};
