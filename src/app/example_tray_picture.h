#pragma once
// A small drawing of a system tray holding the program's icon, with the red
// label "Example system tray", shown by the first-run and "Already Running"
// dialogs so the user knows what to look for.
#include <QWidget>

namespace app {

class ExampleTrayPicture : public QWidget {
    Q_OBJECT
public:
    explicit ExampleTrayPicture(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {260, 64}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace app
