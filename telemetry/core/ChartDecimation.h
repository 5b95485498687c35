#pragma once
// Fewer points for a curve that keeps its look: of the points falling into
// each pixel column only the lowest and the highest are kept, in their
// order, so spikes survive at any width.
#include <QPointF>
#include <QVector>

// points ordered by x; columns pixel columns spread evenly over [x0, x1].
// Points outside [x0, x1] are dropped. At most two points per column.
QVector<QPointF> minMaxPerColumn(const QVector<QPointF> &points, double x0, double x1, int columns);
