#include "ui/qt/tray_application.h"

int main(int argc, char** argv) { return TrayApplication::run(argc, argv); }
