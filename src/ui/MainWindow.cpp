#include "MainWindow.h"

#include "app/StyleSheet.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(tr("Chatwharf"));
    setStyleSheet(appStyleSheet());
    resize(1000, 650);
}
