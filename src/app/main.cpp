#include "app/clientapp.h"

int main(int argc, char** argv) {
    CClientApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
