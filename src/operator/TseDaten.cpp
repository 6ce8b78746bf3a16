// Placeholder until the technical-data view is built.
#include "shell/MainForm.h"

void TMainForm::TSE_Daten_abfragen() {}
void TMainForm::Log_TSE_Daten() {}
