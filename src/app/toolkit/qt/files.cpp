// The program's files through Qt's file classes.
#include "app/toolkit/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString Q(const std::string& path) { return QString::fromStdString(path); }

TFileWrite Failed(const QFile& file) { return {false, 0, file.errorString().toStdString()}; }

TFileWrite WriteOpen(QFile& file, std::string_view bytes) {
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size || !file.flush()) return Failed(file);
    return {true, file.size(), {}};
}

}  // namespace

std::string ProgramFolder() { return QCoreApplication::applicationDirPath().toStdString() + '/'; }

std::string UserDataFolder(std::string_view programName) {
    // Only an absolute XDG_DATA_HOME counts; a relative one is ignored, as
    // the XDG base directory rules ask.
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome)) dataHome = QDir::homePath() + "/.local/share";
    const QString name = QString::fromUtf8(programName.data(), static_cast<qsizetype>(programName.size()));
    return QDir::cleanPath(dataHome + '/' + name).toStdString() + '/';
}

std::string FolderOf(const std::string& fileName) {
    return QFileInfo(Q(fileName)).absolutePath().toStdString() + '/';
}

bool IsFolder(const std::string& path) { return QFileInfo(Q(path)).isDir(); }

bool IsWritableFolder(const std::string& path) {
    // access(2) answers for this user.
    const QFileInfo folder(Q(path));
    return folder.isDir() && folder.isWritable();
}

bool IsFile(const std::string& path) { return QFileInfo(Q(path)).isFile(); }

void MakeOwnFolder(const std::string& folder) {
    const QDir root;
    root.mkpath(QFileInfo(QDir::cleanPath(Q(folder))).absolutePath());
    root.mkdir(Q(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TFileWrite WriteWholeFile(const std::string& fileName, std::string_view bytes) {
    QFile file(Q(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return Failed(file);
    return WriteOpen(file, bytes);
}

TFileWrite AppendToFile(const std::string& fileName, std::int64_t expectedSize,
                        std::string_view bytes) {
    QFile file(Q(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.size() != expectedSize)
        return {};
    return WriteOpen(file, bytes);
}
