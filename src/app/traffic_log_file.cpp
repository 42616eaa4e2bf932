#include "app/traffic_log_file.h"

#include <QCoreApplication>
#include <QFileInfo>

QString ProgramFolder() { return QCoreApplication::applicationDirPath() + '/'; }

QString TrafficLogFileName(const QString& programFolder, const QDateTime& startedAt) {
    return programFolder + startedAt.toString("yyyyMMddHHmm") + ".Log";
}

bool TrafficLogSwitchPresent(const QString& programFolder) {
    return QFileInfo(programFolder + "writelog.txt").isFile();
}
