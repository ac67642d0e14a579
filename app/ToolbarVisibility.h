// Showing and hiding the widgets of a QToolBar without losing their enabled state.
// A toolbar widget is hidden through its QAction (the toolbar's layout would show it
// again otherwise), but an invisible action is also a disabled one, and on every
// change the action pushes its own enabled state into the widget: a button disabled
// with setEnabled(false) would come back enabled when shown. This keeps the state
// the program last gave each widget (setEnabled on the widget, whether shown or
// hidden) and puts it back whenever the widget is shown.
#pragma once

#include <QHash>
#include <QObject>

class QAction;
class QToolBar;
class QWidget;

class ToolbarVisibility : public QObject {
    Q_OBJECT
public:
    explicit ToolbarVisibility(QToolBar* toolbar);

    // Starts watching a widget already added to the toolbar.
    void Track(QWidget* widget);
    void SetVisible(QWidget* widget, bool visible);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* ActionOf(QWidget* widget) const;

    QToolBar* toolbar_;
    QHash<QWidget*, bool> wantedEnabled_;
    bool syncing_ = false;
};
