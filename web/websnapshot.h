#pragma once

#include "catalogue/cataloguesearch.h"
#include "platform/rowlist.h"

#include <QList>
#include <QString>

#include <memory>

// What the web face shows, as the chat thread last published it. A snapshot
// never changes once published: the next one replaces it as a whole, so the
// HTTP thread reads it without touching any object of the chat thread.
struct WebSnapshot
{
    struct Room
    {
        QString connection; // the section's name
        QString room;
        QString nick; // what members type after "/"
        bool joined = false;
        bool serving = false;
        QString lastProblem;
        // Commands answered in each of the last 24 hours, the oldest first.
        QList<int> perHour = QList<int>(24, 0);
        // On IRC, whose clients take a line that starts with "/" as a command
        // of their own: members type /say first (or a doubled slash).
        bool irc = false;
    };

    // The catalogue's rows, sharing the server's block of text (no copy).
    StringRowList descriptions;
    StringRowList addresses;
    // The catalogue's search, made once per catalogue change (the same as the
    // chat room's); WebFace::publish makes it when the snapshot comes without.
    std::shared_ptr<const CatalogueSearch> search;
    QString serverMessage;
    QList<Room> rooms;
    // Counts the snapshots published: the pages made from the one before are dropped.
    quint64 generation = 0;
};
