#include "Plot.h"

#include <QFont>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

constexpr int kPanelWidth = 620;
constexpr int kHeight = 520;
constexpr int kTitleHeight = 40;
constexpr QMargins kMargins(80, 40, 20, 150); // left, top (panel title), right, bottom (axis + legend)

/// A round step for about five grid lines up to `maximum`.
double niceStep(double maximum)
{
    const double raw = maximum / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (factor * magnitude >= raw)
            return factor * magnitude;
    }
    return 10.0 * magnitude;
}

QString compact(double value)
{
    return QLocale(QLocale::English).toString(qint64(std::llround(value)));
}

void drawPanel(QPainter& p, const QRect& area, const ThroughputPlot::Panel& panel)
{
    // Every panel starts from the same pen and font.
    p.save();
    struct Restore
    {
        QPainter& painter;
        ~Restore() { painter.restore(); }
    } restore{p};
    const QRect plot = area.marginsRemoved(kMargins);
    double minX = 0, maxX = 0, maxY = 0;
    bool any = false;
    for (const auto& s : panel.series) {
        for (const QPointF& pt : s.points) {
            if (!any) {
                minX = maxX = pt.x();
                any = true;
            }
            minX = std::min(minX, pt.x());
            maxX = std::max(maxX, pt.x());
            maxY = std::max(maxY, pt.y());
        }
    }
    p.setPen(Qt::black);
    QFont titleFont = p.font();
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.drawText(QRect(area.left(), area.top() + 8, area.width(), 24), Qt::AlignCenter, panel.title);
    p.setFont(QFont(titleFont.family(), 9));
    if (!any)
        return;

    // Log scale in x, with half a decade of room on each side of the measured sizes.
    const double lo = std::log10(minX) - 0.25;
    const double hi = std::log10(maxX) + 0.25;
    const double step = niceStep(std::max(maxY, 1.0) * 1.05);
    const double top = std::ceil(std::max(maxY, 1.0) * 1.05 / step) * step;
    const auto at = [&](const QPointF& pt) {
        const double x = plot.left() + (std::log10(pt.x()) - lo) / (hi - lo) * plot.width();
        const double y = plot.bottom() - pt.y() / top * plot.height();
        return QPointF(x, y);
    };

    p.setPen(QPen(QColor(220, 220, 220), 1));
    for (double y = 0; y <= top + step / 2; y += step) {
        const QPointF left = at(QPointF(std::pow(10.0, lo), y));
        p.drawLine(QPointF(plot.left(), left.y()), QPointF(plot.right(), left.y()));
    }
    QList<double> sizes;
    for (const auto& s : panel.series) {
        for (const QPointF& pt : s.points) {
            if (!sizes.contains(pt.x()))
                sizes << pt.x();
        }
    }
    for (double x : sizes) {
        const QPointF bottom = at(QPointF(x, 0));
        p.setPen(QPen(QColor(220, 220, 220), 1));
        p.drawLine(QPointF(bottom.x(), plot.top()), QPointF(bottom.x(), plot.bottom()));
        p.setPen(Qt::black);
        p.drawText(QRectF(bottom.x() - 50, plot.bottom() + 4, 100, 18), Qt::AlignCenter, compact(x));
    }
    p.setPen(Qt::black);
    for (double y = 0; y <= top + step / 2; y += step) {
        const QPointF left = at(QPointF(std::pow(10.0, lo), y));
        p.drawText(
            QRectF(area.left(), left.y() - 9, kMargins.left() - 8, 18), Qt::AlignRight | Qt::AlignVCenter, compact(y));
    }
    p.drawRect(plot);
    p.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 18), Qt::AlignCenter,
        QStringLiteral("backlog (rows, log scale)"));
    p.save();
    p.translate(area.left() + 14, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-100, -10, 200, 20), Qt::AlignCenter, QStringLiteral("rows per second"));
    p.restore();

    p.setRenderHint(QPainter::Antialiasing, true);
    int legendRow = 0;
    for (const auto& s : panel.series) {
        QPen pen(s.colour, 2.5);
        if (s.dashed)
            pen.setStyle(Qt::DashLine);
        p.setPen(pen);
        QPainterPath path;
        for (int i = 0; i < s.points.size(); ++i) {
            const QPointF pt = at(s.points[i]);
            if (i == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
        p.drawPath(path);
        p.setBrush(s.colour);
        for (const QPointF& pt : s.points)
            p.drawEllipse(at(pt), 3.5, 3.5);
        p.setBrush(Qt::NoBrush);

        // Legend in two columns under the axis title.
        const int column = legendRow % 2;
        const int row = legendRow / 2;
        const QPointF start(plot.left() + column * (plot.width() / 2), plot.bottom() + 56 + row * 20);
        p.drawLine(start, start + QPointF(28, 0));
        p.setPen(Qt::black);
        p.drawText(QRectF(start.x() + 34, start.y() - 9, plot.width() / 2 - 40, 18), Qt::AlignLeft | Qt::AlignVCenter,
            s.label);
        ++legendRow;
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

} // namespace

bool ThroughputPlot::save(const QString& path, const QString& title, const QList<Panel>& panels)
{
    QImage image(
        kPanelWidth * int(std::max<qsizetype>(panels.size(), 1)), kHeight + kTitleHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QFont font = p.font();
    font.setPointSize(12);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(0, 8, image.width(), kTitleHeight - 8), Qt::AlignCenter, title);
    font.setPointSize(11);
    p.setFont(font);
    for (int i = 0; i < panels.size(); ++i)
        drawPanel(p, QRect(i * kPanelWidth, kTitleHeight, kPanelWidth, kHeight), panels[i]);
    p.end();
    return image.save(path, "PNG");
}

bool MemoryPlot::save(const QString& path, const QString& title, const QList<Series>& series)
{
    QImage image(2 * kPanelWidth, kHeight + kTitleHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QFont font = p.font();
    font.setPointSize(12);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(0, 8, image.width(), kTitleHeight - 8), Qt::AlignCenter, title);
    font.setPointSize(9);
    font.setBold(false);
    p.setFont(font);

    const QRect plot = QRect(0, kTitleHeight, image.width(), kHeight).marginsRemoved(kMargins);
    double maxY = 1;
    for (const Series& s : series) {
        maxY = std::max(maxY, s.idleMb);
        for (const QPointF& pt : s.points)
            maxY = std::max(maxY, pt.y());
    }
    const double step = niceStep(maxY * 1.1);
    const double top = std::ceil(maxY * 1.1 / step) * step;
    const auto at = [&](const QPointF& pt) {
        return QPointF(plot.left() + pt.x() / 100.0 * plot.width(), plot.bottom() - pt.y() / top * plot.height());
    };
    for (double y = 0; y <= top + step / 2; y += step) {
        const QPointF left = at(QPointF(0, y));
        p.setPen(QPen(QColor(220, 220, 220), 1));
        p.drawLine(QPointF(plot.left(), left.y()), QPointF(plot.right(), left.y()));
        p.setPen(Qt::black);
        p.drawText(QRectF(0, left.y() - 9, kMargins.left() - 8, 18), Qt::AlignRight | Qt::AlignVCenter, compact(y));
    }
    for (int x = 0; x <= 100; x += 10) {
        const QPointF bottom = at(QPointF(x, 0));
        p.drawText(QRectF(bottom.x() - 30, plot.bottom() + 4, 60, 18), Qt::AlignCenter, QStringLiteral("%1%").arg(x));
    }
    p.drawRect(plot);
    p.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 18), Qt::AlignCenter,
        QStringLiteral("share of the run's time (dashed: the idle agent before it)"));
    p.save();
    p.translate(14, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-100, -10, 200, 20), Qt::AlignCenter, QStringLiteral("resident memory (MB)"));
    p.restore();

    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < series.size(); ++i) {
        const Series& s = series[i];
        p.setPen(QPen(s.colour, 1, Qt::DashLine));
        p.drawLine(at(QPointF(0, s.idleMb)), at(QPointF(100, s.idleMb)));
        p.setPen(QPen(s.colour, 2));
        QPainterPath path;
        for (int j = 0; j < s.points.size(); ++j) {
            if (j == 0)
                path.moveTo(at(s.points[j]));
            else
                path.lineTo(at(s.points[j]));
        }
        p.drawPath(path);
        const QPointF start(plot.left(), plot.bottom() + 56 + i * 20);
        p.drawLine(start, start + QPointF(28, 0));
        p.setPen(Qt::black);
        p.drawText(
            QRectF(start.x() + 34, start.y() - 9, plot.width() - 40, 18), Qt::AlignLeft | Qt::AlignVCenter, s.label);
    }
    p.end();
    return image.save(path, "PNG");
}
