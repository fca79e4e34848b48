#include "app/Form1.h"
#include "settings/Form2.h"
#include "ui/Application.h"

int main(int argc, char* argv[]) {
    ui::TApplication app(argc, argv);
    TForm1 form;
    // The proxy dialog waits hidden until "Proxy?" shows it, always above the main window. It
    // goes before the main window, which would otherwise delete it as its child.
    TForm2 proxyDialog(&form);
    Form2 = &proxyDialog;
    form.show();
    return app.exec();
}
