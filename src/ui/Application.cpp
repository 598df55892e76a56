#include "Application.h"

#include <QApplication>
#include <QMainWindow>

int runChatwharf(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QObject::tr("Chatwharf"));
    window.show();
    return app.exec();
}
