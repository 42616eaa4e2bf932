#include "app/traffic_log_file.h"

#include "app/toolkit/files.h"

#include <cstdio>
#include <stdexcept>

namespace {

// The name is fixed rather than taken from the executable, so the folder the
// operator's guide names is the folder used, whatever the file is called.
constexpr char kDataFolderName[] = "mastercard-writer";

// Two-digit and three-digit fields, as in "0905" and "045".
std::string Digits(int value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*d", width, value);
    return text;
}

}  // namespace

std::string TrafficLogDataFolder() { return UserDataFolder(kDataFolderName); }

std::string TrafficLogFolder(const std::string& programFolder) {
    // Answered for this user, so a program folder the operator may write to
    // (a build, a copy in the home folder) keeps the log beside the program
    // exactly as before.
    if (IsWritableFolder(programFolder)) return programFolder;
    return TrafficLogDataFolder();
}

std::string TrafficLogFileName(const std::string& programFolder, const TDateTime& startedAt) {
    const TDateTime& t = startedAt;
    return programFolder + Digits(t.Year, 4) + Digits(t.Month, 2) + Digits(t.Day, 2) +
           Digits(t.Hour, 2) + Digits(t.Minute, 2) + ".Log";
}

bool TrafficLogSwitchPresent(const std::string& programFolder) {
    return IsFile(programFolder + "writelog.txt");
}

std::string TrafficLogStamp(const TDateTime& time) {
    return Digits(time.Hour, 2) + ":" + Digits(time.Minute, 2) + ":" + Digits(time.Second, 2) +
           " " + Digits(time.Millisecond, 3);
}

namespace {

std::string LinesFrom(const std::vector<std::string>& lines, std::size_t first) {
    std::string text;
    for (std::size_t i = first; i < lines.size(); ++i) {
        text += lines[i];
        text += "\r\n";
    }
    return text;
}

[[noreturn]] void CannotWrite(const std::string& fileName, const TFileWrite& write) {
    throw std::runtime_error("Cannot write the traffic log file \"" + fileName + "\". " +
                             write.Error);
}

// The per-user data folder is the program's own: it is made when a log is
// first saved there, or again when it was removed since, readable by its
// owner only. A failure shows when the file cannot be opened.
void MakeDataFolderFor(const std::string& fileName) {
    const std::string folder = FolderOf(fileName);
    if (folder != TrafficLogDataFolder() || IsFolder(folder)) return;
    MakeOwnFolder(folder);
}

}  // namespace

void TrafficLogFileWriter::Save(const std::string& fileName, const std::vector<std::string>& lines) {
    const bool sameFile = savedLines_ > 0 && fileName == fileName_ && lines.size() >= savedLines_;
    if (sameFile && Append(lines)) return;
    WriteWhole(fileName, lines);
}

void TrafficLogFileWriter::WriteWhole(const std::string& fileName,
                                      const std::vector<std::string>& lines) {
    savedLines_ = 0;  // until the file is known to hold them
    fileName_ = fileName;
    MakeDataFolderFor(fileName);
    const TFileWrite write = WriteWholeFile(fileName, LinesFrom(lines, 0));
    if (!write.Written) CannotWrite(fileName, write);
    savedLines_ = lines.size();
    savedBytes_ = write.Size;
}

bool TrafficLogFileWriter::Append(const std::vector<std::string>& lines) {
    const std::size_t first = savedLines_;
    // A failed append may leave part of a line behind: the next save
    // replaces the file rather than add to a damaged end.
    savedLines_ = 0;
    const TFileWrite write = AppendToFile(fileName_, savedBytes_, LinesFrom(lines, first));
    // Removed or changed by someone else since: it is written whole again.
    if (!write.Written && write.Error.empty()) return false;
    if (!write.Written) CannotWrite(fileName_, write);
    savedLines_ = lines.size();
    savedBytes_ = write.Size;
    return true;
}
