// The style of the main window's toolbar: the application's style without the
// toolbar's frame, margins, item spacing and handle, and with 5-pixel separators, so
// the toolbar is exactly as wide as its visible buttons.
#pragma once

#include <QProxyStyle>

class ToolbarStyle : public QProxyStyle {
    Q_OBJECT
public:
    ToolbarStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;

    static constexpr int kSeparatorWidth = 5;
};
