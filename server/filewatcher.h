#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// Notices when someone changes some files of a data folder (the catalogue files
// and message.txt, or network.conf): an operator's editor, or a catalogue
// command of this program. Editors
// and this program replace files whole (a new file renamed over the old one),
// which ends a watch on the file itself, so the folder is watched as well and
// the files are watched again after every change. A burst of changes (one
// file after the other) is reported once, when it is over.
class FileWatcher final : public QObject
{
    Q_OBJECT

public:
    // The files are names in the folder.
    FileWatcher(const QString &folder, const QStringList &files, QObject *parent = nullptr);

Q_SIGNALS:
    void changed();

private:
    void watchFiles();
    void somethingChanged();
    [[nodiscard]] QByteArray signature() const;

    QString m_folder;
    QStringList m_files;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QByteArray m_signature;
};
