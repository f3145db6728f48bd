// Lintab: the editor of the wavelength table Wv.ini.
#include "lintab/LintabFunc.h"
#include "platform/ui/qt/app.h"

int main(int argc, char** argv) {
    pelu::lintab::RegisterLintabCallbacks();
    return ui::RunProgram(argc, argv, "Lintab", pelu::lintab::Lintab_main);
}
