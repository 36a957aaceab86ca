#include "app/first_run_dialog.h"

#include "app/example_tray_picture.h"
#include "app/product_page.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace app {

QString Tfirst_run::text() {
    return QStringLiteral(
        "This is the first time Pagorama has been run on this computer.\r\n"
        "When you click OK below, Pagorama will configure itself and \r\n"
        "then connect to the internet to retrieve copies of your favorite web sites.\r\n"
        "You may change the configuration of Pagorama at any time \r\n"
        "by clicking on the icon in the system tray.\r\n\r\n"
        "For more information visit the Pagorama web site by");
}

QString Tfirst_run::linkText() {
    return QStringLiteral("Clicking Here");
}

Tfirst_run::Tfirst_run(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("first_run"));
    setWindowTitle(QStringLiteral("First Run"));
    // A dialog frame with no title-bar buttons: OK is the way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(QString(text()).remove(QLatin1Char('\r')), this);
    message->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(message);

    auto* link = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(linkText()), this);
    link->setObjectName(QStringLiteral("Label2"));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(link, &QLabel::linkActivated, this, [] { openProductPage(); });
    layout->addWidget(link);

    layout->addWidget(new ExampleTrayPicture(this), 0, Qt::AlignHCenter);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void showFirstRun(bool desktop) {
    if (!desktop) {
        QString flat = Tfirst_run::text() + QLatin1Char(' ') + Tfirst_run::linkText();
        flat.remove(QLatin1Char('\r'));
        const QUrl page = productPageUrl();
        if (page.isValid())
            flat += QStringLiteral(": ") + page.toString();
        std::fprintf(stderr, "%s\n", flat.toUtf8().constData());
        std::fflush(stderr);
        return;
    }
    Tfirst_run dialog;
    dialog.exec();
}

} // namespace app
