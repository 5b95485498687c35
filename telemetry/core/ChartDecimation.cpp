#include "ChartDecimation.h"

#include <QtGlobal>

#include <cmath>

QVector<QPointF> minMaxPerColumn(const QVector<QPointF> &points, double x0, double x1, int columns)
{
    QVector<QPointF> out;
    if (points.isEmpty() || columns <= 0 || !(x1 >= x0))
        return out;
    const double width = x1 - x0;
    out.reserve(qMin(points.size(), 2 * columns));
    int column = -1;
    QPointF low, high;
    const auto flush = [&] {
        if (column < 0)
            return;
        if (low == high) {
            out.append(low);
        } else if (low.x() <= high.x()) {
            out.append(low);
            out.append(high);
        } else {
            out.append(high);
            out.append(low);
        }
    };
    for (const QPointF &p : points) {
        if (!(p.x() >= x0 && p.x() <= x1) || !std::isfinite(p.y()))
            continue;
        const int c = width > 0 ? qMin(columns - 1, int((p.x() - x0) / width * columns)) : 0;
        if (c != column) {
            flush();
            column = c;
            low = high = p;
            continue;
        }
        if (p.y() < low.y())
            low = p;
        if (p.y() > high.y())
            high = p;
    }
    flush();
    return out;
}
