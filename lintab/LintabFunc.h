// The wavelength table editor: the grating equation that turns a wavelength
// and an order into a grating angle and a motor step, and the table
// operations between the panel and the in-memory table of Wv.ini.
#pragma once

namespace pelu::lintab {

// Grating angle (degrees) and motor step of `wavelength` (angstrom) in
// `order`, relative to the first table entry's step. Returns 1; returns 0
// and leaves both outputs alone when the wavelength lies beyond the
// grating's range in that order (the sine would exceed 1).
int AngleStepCalculating(float wavelength, int order, double* angle, int* step);

// Panel <-> table. `panel` is the editor's panel.
void LoadTable(int panel);
void InsertTable(int panel);
void SaveTable(int panel);
void CalculateTable(int panel);

// The program's main and the callbacks of Lintab.uir.
int Lintab_main();
void RegisterLintabCallbacks();
int Reload(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Insert(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Save(int panel, int control, int event, void* data, int eventData1, int eventData2);
int Exit(int panel, int control, int event, void* data, int eventData1, int eventData2);
int WvTable(int panel, int control, int event, void* data, int eventData1, int eventData2);
int LintabPanel(int panel, int control, int event, void* data, int eventData1, int eventData2);

// The panel handle (set by Lintab_main).
extern int panelHandle;

}  // namespace pelu::lintab
