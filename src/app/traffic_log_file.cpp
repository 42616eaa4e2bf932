#include "app/traffic_log_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

QString ProgramFolder() { return QCoreApplication::applicationDirPath() + '/'; }

namespace {

// The name is fixed rather than taken from the executable, so the folder the
// operator's guide names is the folder used, whatever the file is called.
constexpr char kDataFolderName[] = "mastercard-writer";

}  // namespace

QString TrafficLogDataFolder() {
    // Only an absolute XDG_DATA_HOME counts; a relative one is ignored, as
    // the XDG base directory rules ask.
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome)) dataHome = QDir::homePath() + "/.local/share";
    return QDir::cleanPath(dataHome + '/' + kDataFolderName) + '/';
}

QString TrafficLogFolder(const QString& programFolder) {
    // access(2) answers for this user, so a program folder the operator may
    // write to (a build, a copy in the home folder) keeps the log beside the
    // program exactly as before.
    const QFileInfo folder(programFolder);
    if (folder.isDir() && folder.isWritable()) return programFolder;
    return TrafficLogDataFolder();
}

QString TrafficLogFileName(const QString& programFolder, const QDateTime& startedAt) {
    return programFolder + startedAt.toString("yyyyMMddHHmm") + ".Log";
}

bool TrafficLogSwitchPresent(const QString& programFolder) {
    return QFileInfo(programFolder + "writelog.txt").isFile();
}

std::string TrafficLogStamp(const QDateTime& time) {
    return time.toString("HH:mm:ss zzz").toStdString();
}

namespace {

QByteArray LinesFrom(const std::vector<std::string>& lines, std::size_t first) {
    QByteArray text;
    for (std::size_t i = first; i < lines.size(); ++i) {
        text.append(lines[i].data(), static_cast<qsizetype>(lines[i].size()));
        text.append("\r\n");
    }
    return text;
}

[[noreturn]] void CannotWrite(const QFile& file) {
    throw std::runtime_error("Cannot write the traffic log file \"" +
                             file.fileName().toStdString() + "\". " +
                             file.errorString().toStdString());
}

void WriteAll(QFile& file, const QByteArray& text) {
    if (file.write(text) != text.size() || !file.flush()) CannotWrite(file);
}

// The per-user data folder is the program's own: it is made when a log is
// first saved there, or again when it was removed since, readable by its
// owner only. A failure shows when the file cannot be opened.
void MakeDataFolderFor(const QString& fileName) {
    const QString folder = QFileInfo(fileName).absolutePath() + '/';
    if (folder != TrafficLogDataFolder() || QFileInfo(folder).isDir()) return;
    const QDir root;
    root.mkpath(QFileInfo(QDir::cleanPath(folder)).absolutePath());
    root.mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

void TrafficLogFileWriter::Save(const QString& fileName, const std::vector<std::string>& lines) {
    const bool sameFile = savedLines_ > 0 && fileName == fileName_ && lines.size() >= savedLines_;
    if (sameFile && Append(lines)) return;
    WriteWhole(fileName, lines);
}

void TrafficLogFileWriter::WriteWhole(const QString& fileName, const std::vector<std::string>& lines) {
    savedLines_ = 0;  // until the file is known to hold them
    fileName_ = fileName;
    MakeDataFolderFor(fileName);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) CannotWrite(file);
    WriteAll(file, LinesFrom(lines, 0));
    savedLines_ = lines.size();
    savedBytes_ = file.size();
}

bool TrafficLogFileWriter::Append(const std::vector<std::string>& lines) {
    QFile file(fileName_);
    // Removed or changed by someone else since: it is written whole again.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.size() != savedBytes_)
        return false;
    const std::size_t first = savedLines_;
    // A failed append may leave part of a line behind: the next save
    // replaces the file rather than add to a damaged end.
    savedLines_ = 0;
    WriteAll(file, LinesFrom(lines, first));
    savedLines_ = lines.size();
    savedBytes_ = file.size();
    return true;
}
