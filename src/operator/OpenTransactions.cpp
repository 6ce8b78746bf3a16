// Placeholder until finishing open transactions and deactivation are built.
#include "shell/MainForm.h"

void TMainForm::Btn_TAFreeClick() {}
void TMainForm::Btn_DeactivClick() {}
