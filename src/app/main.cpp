#include <clocale>

#include "app/app.h"

static CTolvaneApp theApp;

int main() {
  std::setlocale(LC_ALL, "");
  theApp.InitInstance();
  return theApp.ExitInstance();
}
