// Where the traffic log is saved and whether it is saved at all: a file
// named after the start-up minute in the log folder, written only when a
// switch file "writelog.txt" lies in that folder. The log folder is the
// program's own where the operator may write there, else the per-user data
// folder.
#pragma once

#include "app/toolkit/date_time.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The per-user data folder, ending with a path separator:
// $XDG_DATA_HOME/mastercard-writer/ when XDG_DATA_HOME is an absolute path,
// else ~/.local/share/mastercard-writer/. It may not exist yet.
std::string TrafficLogDataFolder();

// The folder that holds the switch file and the log, ending with a path
// separator: programFolder where it is writable (a program run from its
// build or from a copied folder), otherwise TrafficLogDataFolder() (an
// installed program, whose folder is not the operator's to write).
std::string TrafficLogFolder(const std::string& programFolder);

// programFolder + "YYYYMMDDhhmm" of `startedAt` (hours 00-23) + ".Log".
std::string TrafficLogFileName(const std::string& programFolder, const TDateTime& startedAt);

// True when the switch file "writelog.txt" exists in programFolder.
bool TrafficLogSwitchPresent(const std::string& programFolder);

// A log line's time stamp: "hh:mm:ss zzz", hours 00-23.
std::string TrafficLogStamp(const TDateTime& time);

// Keeps the log file equal to the log in memory: every line followed by CR
// LF, its bytes as they are. The first save writes the file whole, replacing
// what an earlier start within the same minute left there; later saves
// append only the new lines, so a long log does not cost a rewrite per line.
// A log in the per-user data folder makes that folder when it is missing;
// no other folder is ever made.
class TrafficLogFileWriter {
public:
    // Brings the file `fileName` up to `lines`. Throws std::runtime_error
    // when the file cannot be written; the next save then writes it whole
    // again, so a failure never leaves lines missing for good.
    void Save(const std::string& fileName, const std::vector<std::string>& lines);

private:
    void WriteWhole(const std::string& fileName, const std::vector<std::string>& lines);
    // False, writing nothing, when the file is no longer what was saved.
    bool Append(const std::vector<std::string>& lines);

    std::string fileName_;         // the file the saved lines are in
    std::size_t savedLines_ = 0;   // how many of the lines it holds; 0: write it whole
    std::int64_t savedBytes_ = 0;  // its size after the last save
};
