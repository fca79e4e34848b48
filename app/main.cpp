#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel placeholder("Vantrel Backup");
    placeholder.show();
    return app.exec();
}
