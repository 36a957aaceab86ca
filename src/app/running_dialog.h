#pragma once
// "Already Running": shown by a second copy when the first one is tucked
// away in the tray, telling the user where to find it.
#include <QDialog>

namespace app {

class Trunning : public QDialog {
    Q_OBJECT
public:
    explicit Trunning(QWidget* parent = nullptr);
    static QString text();
};

} // namespace app
