#pragma once
// The yardstick for the renderer's cost per picture: the least a program
// can do with a kept headless browser. One browser, one tab, one thread, a
// blocking conversation over the DevTools pipe: navigate, wait for the load
// event, take the picture clipped to 1024 x 768 and scaled by the browser
// into the card, decode it.
#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QString>

#include <sys/types.h>

class ReferenceTab {
public:
    ReferenceTab() = default;
    ~ReferenceTab();
    bool start(const QString& browser);
    QImage capture(const QString& url);

private:
    int send(const QString& method, const QJsonObject& params = {});
    QJsonObject waitFor(int id, const QString& event = {});

    pid_t pid_ = 0;
    int out_ = -1;
    int in_ = -1;
    int nextId_ = 1;
    QString session_;
    QByteArray buffer_;
    QByteArray profile_;
};
