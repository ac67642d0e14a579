// The style of the main toolbar: the desktop's own, but with no frame, margins,
// spacing, handle or overflow extension, so that the toolbar is exactly as wide as
// its visible buttons (32, 45 and 5 pixels) and the window can be fitted to it.
#pragma once

#include <QProxyStyle>

class ToolbarStyle : public QProxyStyle {
    Q_OBJECT
public:
    ToolbarStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};
