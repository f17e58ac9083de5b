#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

/// A line chart of rows per second against backlog size (log scale), drawn with QPainter.
class ThroughputPlot
{
public:
    struct Series
    {
        QString label;
        QColor colour;
        bool dashed = false;
        QList<QPointF> points; // (rows, rows per second)
    };
    struct Panel
    {
        QString title;
        QList<Series> series;
    };

    /// Draws the panels side by side and saves the picture as PNG; false when it cannot be saved.
    static bool save(const QString& path, const QString& title, const QList<Panel>& panels);
};

/// Resident memory over a run, one line per run drawn against the share of the run's time, each
/// with its idle level dashed.
class MemoryPlot
{
public:
    struct Series
    {
        QString label;
        QColor colour;
        QList<QPointF> points; // (percent of the run's time, MB)
        double idleMb = 0;
    };

    /// Saves the chart as PNG; false when it cannot be saved.
    static bool save(const QString& path, const QString& title, const QList<Series>& series);
};
