// The local wall clock, read through Qt's.
#include "app/toolkit/date_time.h"

#include <QDateTime>

TDateTime CurrentDateTime() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(),
            time.msec()};
}
