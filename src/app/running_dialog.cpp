#include "app/running_dialog.h"

#include "app/example_tray_picture.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

QString Trunning::text() {
    return QStringLiteral("Another copy of Pagorama is already running. \r\n"
                          "Right Click on the Pagorama icon in your system tray to configure it.");
}

Trunning::Trunning(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("running"));
    setWindowTitle(QStringLiteral("Already Running"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(QString(text()).remove(QLatin1Char('\r')), this);
    message->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(message);
    layout->addWidget(new ExampleTrayPicture(this), 0, Qt::AlignHCenter);

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace app
