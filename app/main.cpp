#include "app/Form1.h"
#include "ui/Application.h"

int main(int argc, char* argv[]) {
    ui::TApplication app(argc, argv);
    TForm1 form;
    form.show();
    return app.exec();
}
