// Where the traffic log is saved and whether it is saved at all: a file
// named after the start-up minute in the program's folder, written only when
// a switch file "writelog.txt" lies beside the program.
#pragma once

#include <QDateTime>
#include <QString>

// The folder of the program's executable, ending with a path separator.
QString ProgramFolder();

// programFolder + "YYYYMMDDhhmm" of `startedAt` (hours 00-23) + ".Log".
QString TrafficLogFileName(const QString& programFolder, const QDateTime& startedAt);

// True when the switch file "writelog.txt" exists in programFolder.
bool TrafficLogSwitchPresent(const QString& programFolder);
