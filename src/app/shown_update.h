#pragma once
// Keeps a control up to date only while it is on screen: a value that
// changes with every request (the count of clients) is written when the
// control can be seen, and once more when it is shown again.
#include <QObject>

#include <functional>

class QWidget;

namespace app {

class ShownUpdate : public QObject {
    Q_OBJECT
public:
    // Owned by widget; update writes the current value into it.
    ShownUpdate(QWidget& widget, std::function<void()> update);

    // The value changed: written now when the widget is on screen, else
    // when it is next shown.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& widget_;
    std::function<void()> update_;
    bool pending_ = false;
};

} // namespace app
