#pragma once
// The run status light of the configuration window: a filled circle, lime
// while idle, red during a run, yellow while a run is being cancelled.
#include <QColor>
#include <QWidget>

namespace app {

inline const QColor IdleColour{0, 255, 0};
inline const QColor RunningColour{255, 0, 0};
inline const QColor CancellingColour{255, 255, 0};

class StatusLight : public QWidget {
    Q_OBJECT
public:
    explicit StatusLight(QWidget* parent = nullptr);

    QColor colour() const { return colour_; }
    void setColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_ = IdleColour;
};

} // namespace app
