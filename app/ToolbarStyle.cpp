#include "app/ToolbarStyle.h"

#include <QApplication>

ToolbarStyle::ToolbarStyle() : QProxyStyle(QApplication::style()->name()) {}

int ToolbarStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    switch (metric) {
    case PM_ToolBarFrameWidth:
    case PM_ToolBarItemMargin:
    case PM_ToolBarItemSpacing:
    case PM_ToolBarHandleExtent:
        return 0;
    case PM_ToolBarSeparatorExtent:
        return kSeparatorWidth;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}
