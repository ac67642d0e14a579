#include "app/ToolbarStyle.h"

#include <QApplication>
#include <QStyleFactory>

ToolbarStyle::ToolbarStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

int ToolbarStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_ToolBarFrameWidth:
    case PM_ToolBarItemMargin:
    case PM_ToolBarItemSpacing:
    case PM_ToolBarHandleExtent:
    case PM_ToolBarExtensionExtent:
        return 0;
    case PM_ToolBarSeparatorExtent:
        return 5;
    case PM_ToolBarIconSize:
        return 24;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}
