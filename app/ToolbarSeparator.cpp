#include "app/ToolbarSeparator.h"

#include <QPainter>

ToolbarSeparator::ToolbarSeparator(int width, int height, QWidget* parent) : QWidget(parent)
{
    setFixedSize(width, height);
}

void ToolbarSeparator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int x = width() / 2 - 1;
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(x, 3, x, height() - 4);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(x + 1, 3, x + 1, height() - 4);
}
