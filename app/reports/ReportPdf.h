#pragma once
// 日報 and 月報 on paper: A4 portrait, a page per unit headed with the station, the unit, the
// period and when it was made. A 日報 page has the hourly table and a small chart of each analogue
// channel (the hour's mean between its minimum and maximum); a 月報 page the daily table. Drawn
// with Noto Sans CJK JP (Debian fonts-noto-cjk), which the PDF embeds.

#include "shared/Outcome.h"
#include "shared/ReportFigures.h"

#include <QDateTime>

class QPagedPaintDevice;

namespace Report {

struct PrintHeading {
    QString station; // the station's name: its host name
    QDateTime made;
};

// Paints every unit's page onto a PDF writer or a printer set to A4.
void PaintPages(QPagedPaintDevice& device, const std::vector<UnitFigures>& figures, Kind kind, const QDate& date,
                const PrintHeading& heading);
// daily-YYYY-MM-DD.pdf or monthly-YYYY-MM.pdf
QString PdfName(Kind kind, const QDate& date);
// Writes the PDF into folder under PdfName; a fault names the file.
Outcome WritePdf(const QString& folder, const std::vector<UnitFigures>& figures, Kind kind, const QDate& date,
                 const PrintHeading& heading);

// The report's files as the command line and the schedule make them: both CSV files, then the PDF.
Outcome WriteReport(const QString& folder, const std::vector<UnitFigures>& figures, Kind kind, const QDate& date,
                    const PrintHeading& heading);

} // namespace Report
