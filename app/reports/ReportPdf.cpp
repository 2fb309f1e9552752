// Report pages: a table and small charts per unit, in millimetres on A4.

#include "reports/ReportPdf.h"

#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

namespace Report {

namespace {

const QString kFont = QStringLiteral("Noto Sans CJK JP");
constexpr double kMargin = 12.0; // mm

class Page {
public:
    explicit Page(QPainter& p) : m_p(p)
    {
        const QRectF r = p.viewport();
        m_mm = r.width() / 210.0;
    }
    double mm(double v) const { return v * m_mm; }
    QRectF box(double x, double y, double w, double h) const { return QRectF(mm(x), mm(y), mm(w), mm(h)); }
    void font(double points, bool bold = false)
    {
        QFont f(kFont);
        f.setPixelSize(int(points * 0.3528 * m_mm)); // 1 pt = 0.3528 mm
        f.setBold(bold);
        m_p.setFont(f);
    }
    void text(double x, double y, double w, double h, const QString& s, Qt::Alignment a = Qt::AlignLeft)
    {
        m_p.drawText(box(x, y, w, h), int(a | Qt::AlignVCenter), s);
    }
    QPainter& painter() { return m_p; }

private:
    QPainter& m_p;
    double m_mm = 1;
};

QString periodLabel(Kind kind, const Period& p)
{
    const QDateTime t = DataLog::fromSeconds(p.start);
    return kind == Kind::Daily ? t.toString(QStringLiteral("HH時")) : t.toString(QStringLiteral("d日"));
}

QString channelLabel(int c)
{
    return c >= DataLog::RB0 ? QStringLiteral("RB%1").arg(c - DataLog::RB0) : QStringLiteral("RA%1").arg(c);
}

// The table: a column for the period, three for each analogue channel, one for each pin, one for
// the seconds recorded. Returns where it ends.
double table(Page& pg, const UnitFigures& u, Kind kind, double top)
{
    const double width = 210 - 2 * kMargin;
    std::vector<int> analog, pins;
    for (int c : u.channels)
        (c >= DataLog::RB0 ? pins : analog).push_back(c);
    const int columns = 2 + int(analog.size()) * 3 + int(pins.size());
    const double first = 12, last = 14;
    const double col = (width - first - last) / std::max(1, columns - 2);
    const double row = kind == Kind::Daily ? 4.6 : 4.2;
    QPainter& p = pg.painter();
    p.setPen(QPen(Qt::black, pg.mm(0.15)));
    // Two heading rows: the channel, then 最小/平均/最大 or ON秒.
    pg.font(7, true);
    double x = kMargin + first;
    for (int c : analog) {
        pg.text(x, top, col * 3, row, channelLabel(c), Qt::AlignHCenter);
        const QStringList sub{QStringLiteral("最小"), QStringLiteral("平均"), QStringLiteral("最大")};
        for (int i = 0; i < 3; ++i)
            pg.text(x + i * col, top + row, col, row, sub[i], Qt::AlignHCenter);
        x += col * 3;
    }
    for (int c : pins) {
        pg.text(x, top, col, row, channelLabel(c), Qt::AlignHCenter);
        pg.text(x, top + row, col, row, QStringLiteral("ON秒"), Qt::AlignHCenter);
        x += col;
    }
    pg.text(kMargin, top + row, first, row, kind == Kind::Daily ? QStringLiteral("時") : QStringLiteral("日"),
            Qt::AlignHCenter);
    pg.text(x, top + row, last, row, QStringLiteral("記録秒"), Qt::AlignHCenter);
    double y = top + 2 * row;
    p.drawLine(QPointF(pg.mm(kMargin), pg.mm(y)), QPointF(pg.mm(kMargin + width), pg.mm(y)));
    pg.font(6.5);
    for (size_t i = 0; i < u.periods.size(); ++i) {
        const Period& per = u.periods[i];
        if (i % 2 == 1)
            p.fillRect(pg.box(kMargin, y, width, row), QColor(240, 240, 240));
        pg.text(kMargin, y, first - 1, row, periodLabel(kind, per), Qt::AlignRight);
        x = kMargin + first;
        for (int c : analog) {
            const ChannelFigures& f = per.ch[c];
            const QStringList v =
                f.n > 0 ? QStringList{QString::number(f.min), QString::number(f.sum / double(f.n), 'f', 1),
                                      QString::number(f.max)}
                        : QStringList{QString(), QString(), QString()};
            for (int k = 0; k < 3; ++k)
                pg.text(x + k * col, y, col - 1, row, v[k], Qt::AlignRight);
            x += col * 3;
        }
        for (int c : pins) {
            pg.text(x, y, col - 1, row, per.recorded > 0 ? QString::number(per.ch[c].on) : QString(), Qt::AlignRight);
            x += col;
        }
        // A period without every second recorded stands out: a gap is not a calm stretch.
        const int64_t length = per.end - per.start;
        p.setPen(per.recorded < length ? QColor(180, 0, 0) : Qt::black);
        pg.text(x, y, last - 1, row, QString::number(per.recorded), Qt::AlignRight);
        p.setPen(Qt::black);
        y += row;
    }
    p.drawLine(QPointF(pg.mm(kMargin), pg.mm(y)), QPointF(pg.mm(kMargin + width), pg.mm(y)));
    return y;
}

// An analogue channel's hours: the band from minimum to maximum and the mean as a line.
void chart(Page& pg, const UnitFigures& u, int c, double x, double y, double w, double h)
{
    QPainter& p = pg.painter();
    double lo = INT32_MAX, hi = INT32_MIN;
    for (const Period& per : u.periods)
        if (per.ch[c].n > 0) {
            lo = std::min<double>(lo, per.ch[c].min);
            hi = std::max<double>(hi, per.ch[c].max);
        }
    pg.font(7, true);
    pg.text(x, y, w, 4, channelLabel(c));
    const QRectF area = pg.box(x + 10, y + 5, w - 12, h - 10);
    p.setPen(QPen(Qt::gray, pg.mm(0.15)));
    p.drawRect(area);
    if (lo > hi)
        return;
    if (hi == lo) {
        hi += 1;
        lo -= 1;
    }
    pg.font(6);
    pg.text(x, y + 4, 9, 3, QString::number(hi, 'f', 0), Qt::AlignRight);
    pg.text(x, y + h - 7, 9, 3, QString::number(lo, 'f', 0), Qt::AlignRight);
    const double n = double(u.periods.size());
    const auto px = [&](size_t i) { return area.left() + area.width() * (double(i) + 0.5) / n; };
    const auto py = [&](double v) { return area.bottom() - area.height() * (v - lo) / (hi - lo); };
    QPainterPath line;
    bool drawing = false;
    for (size_t i = 0; i < u.periods.size(); ++i) {
        const ChannelFigures& f = u.periods[i].ch[c];
        if (f.n == 0) {
            drawing = false;
            continue;
        }
        p.fillRect(QRectF(px(i) - area.width() / n * 0.35, py(f.max), area.width() / n * 0.7,
                          std::max(py(f.min) - py(f.max), pg.mm(0.2))),
                   QColor(170, 200, 240));
        const QPointF point(px(i), py(f.sum / double(f.n)));
        if (drawing)
            line.lineTo(point);
        else
            line.moveTo(point);
        drawing = true;
    }
    p.setPen(QPen(QColor(20, 60, 160), pg.mm(0.35)));
    p.drawPath(line);
    p.setPen(Qt::black);
}

} // namespace

void PaintPages(QPagedPaintDevice& device, const std::vector<UnitFigures>& figures, Kind kind, const QDate& date,
                const PrintHeading& heading)
{
    QPainter p(&device);
    Page pg(p);
    const QString title = kind == Kind::Daily ? QStringLiteral("日報　") + date.toString(QStringLiteral("yyyy年M月d日"))
                                              : QStringLiteral("月報　") + date.toString(QStringLiteral("yyyy年M月"));
    for (size_t i = 0; i < figures.size(); ++i) {
        if (i > 0)
            device.newPage();
        const UnitFigures& u = figures[i];
        pg.font(14, true);
        pg.text(kMargin, kMargin, 120, 8, title);
        pg.font(8);
        pg.text(kMargin, kMargin + 9, 186, 5,
                QStringLiteral("%1　ユニット %2　%3")
                    .arg(heading.station)
                    .arg(u.unit, 3, 10, QLatin1Char('0'))
                    .arg(u.name));
        pg.text(kMargin, kMargin, 186, 8,
                QStringLiteral("作成 ") + heading.made.toString(QStringLiteral("yyyy/MM/dd HH:mm")), Qt::AlignRight);
        const double end = table(pg, u, kind, kMargin + 17);
        if (kind != Kind::Daily)
            continue;
        std::vector<int> analog;
        for (int c : u.channels)
            if (c < DataLog::RB0)
                analog.push_back(c);
        for (size_t k = 0; k < analog.size(); ++k)
            chart(pg, u, analog[k], kMargin + (k % 2) * 94, end + 5 + double(k / 2) * 42, 92, 40);
    }
}

QString PdfName(Kind kind, const QDate& date)
{
    return FileName(kind, date, false).chopped(4) + QStringLiteral(".pdf");
}

Outcome WritePdf(const QString& folder, const std::vector<UnitFigures>& figures, Kind kind, const QDate& date,
                 const PrintHeading& heading)
{
    const QString name = PdfName(kind, date);
    const QString path = QDir(folder).filePath(name);
    const QString temp = QDir(folder).filePath(u'.' + name + QStringLiteral(".part"));
    {
        QPdfWriter pdf(temp);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(300);
        pdf.setTitle(name);
        pdf.setCreator(QStringLiteral("Talveron"));
        PaintPages(pdf, figures, kind, date, heading);
    }
    // Renamed whole, so a mail or a reader never takes half a file.
    if (!QFileInfo(temp).isFile() || QFileInfo(temp).size() == 0 || (QFile::exists(path) && !QFile::remove(path)) ||
        !QFile::rename(temp, path)) {
        QFile::remove(temp);
        return Failed(Fault::SettingsFile, name + QStringLiteral(" に書き込めません"));
    }
    return {};
}

Outcome WriteReport(const QString& folder, const std::vector<UnitFigures>& figures, Kind kind, const QDate& date,
                    const PrintHeading& heading)
{
    const Outcome csv = WriteCsv(folder, kind, date, figures);
    return csv ? WritePdf(folder, figures, kind, date, heading) : csv;
}

} // namespace Report
