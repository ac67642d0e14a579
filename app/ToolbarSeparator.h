// The 5-pixel gap between the recording buttons and the tools, with an etched
// vertical line like the toolbar separators of the desktop style.
#pragma once

#include <QWidget>

class ToolbarSeparator : public QWidget {
    Q_OBJECT
public:
    ToolbarSeparator(int width, int height, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
