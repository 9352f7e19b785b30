#pragma once

#include "catalogue/cataloguesearch.h"
#include "platform/rowlist.h"

#include <QDateTime>
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

    // What the server's check of the links found, for the admin page.
    struct LinkCheck
    {
        bool on = false;       // link-check is set in network.conf
        bool checking = false; // a check is under way
        QDateTime finished;    // of the last check; none yet when not valid
        int checked = 0;
        int dead = 0;
        int doubtful = 0;
        int skipped = 0; // private addresses, left alone
        struct Problem
        {
            int item = -1;
            QString description;
            QString address;
            bool dead = true; // else doubtful
            QString found;
            QDateTime since;
        };
        // The catalogue's items whose link did not answer: dead ones first,
        // each kind in the catalogue's order.
        QList<Problem> problems;
    } linkCheck;
    // Counts the snapshots published: the pages made from the one before are dropped.
    quint64 generation = 0;
};
